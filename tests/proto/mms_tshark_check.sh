#!/bin/bash
# Independent check of our MMS encodings: tshark's MMS dissector must decode
# every sample PDU without a malformed-packet or expert error.
#   mms_tshark_check.sh <mms_sample_dump> <work dir>
set -euo pipefail
dump=$1
dir=$2
mkdir -p "$dir"
"$dump" "$dir/names.txt" > "$dir/samples.hex"
text2pcap -q -l 147 "$dir/samples.hex" "$dir/samples.pcap"
opts=(-o 'uat:user_dlts:"User 0 (DLT=147)","mms","0","","0",""')
count=$(tshark -r "$dir/samples.pcap" "${opts[@]}" -T fields -e frame.number | wc -l)
expected=$(wc -l < "$dir/names.txt")
if [ "$count" != "$expected" ]; then
  echo "tshark read $count packets, expected $expected"; exit 1
fi
bad=$(tshark -r "$dir/samples.pcap" "${opts[@]}" -Y '_ws.malformed || _ws.expert.severity >= warning' -T fields -e frame.number || true)
if [ -n "$bad" ]; then
  for n in $bad; do
    echo "malformed in tshark: $(sed -n "${n}p" "$dir/names.txt")"
    tshark -r "$dir/samples.pcap" "${opts[@]}" -Y "frame.number == $n" -V | sed -n '/^MMS/,$p'
  done
  exit 1
fi
echo "tshark decoded all $count sample PDUs cleanly"
