#!/usr/bin/env bash
# Runs scripts/demo.sh headless for a bounded time with short cycles, then
# checks what a newcomer should see: both channels of every IED connected,
# report control blocks enabled, reports logged, values archived in the
# measurement tables, recorder files collected into comtradrd and onto the FTP
# server, a screenshot; and that nothing it started keeps running.
set -uo pipefail
SRC=$1; BIN=$2; RUN=$3
rm -rf "$RUN"; mkdir -p "$RUN"
RESULTS=$RUN/results.txt

export DEMO_DIR=$RUN DEMO_BIN_DIR=$BIN DEMO_DURATION=${DEMO_TEST_SECONDS:-75} DEMO_SHOT_EVERY=15 \
       DEMO_CHECK_PASS_US=2000 DEMO_ARCHIVE_CYCLE=10 DEMO_RECORD_EVERY=20 \
       DEMO_COLLECT_EVERY=15 ZV_SKIP_INSTALL=1
unset DISPLAY
# Counted while the database still runs.
export DEMO_AFTER='
  q() { mariadb -h 127.0.0.1 -P "$DB_PORT" -u "$DB_USER" -p"$DB_PASSWORD" "$DB_NAME" -N -e "$1"; }
  {
    echo "etp_rows $(q "select count(*) from data_etp_h")"
    echo "sf6_rows $(q "select count(*) from data_sf6_h")"
    echo "mapped_rows $(q "select count(*) from rptparamindex")"
    # Rows sit at the start of their time slot: 30 min for temperatures, 15 for SF6.
    echo "etp_off_slot $(q "select count(*) from data_etp_h where unix_timestamp(d_time) % 1800 <> 0")"
    echo "sf6_off_slot $(q "select count(*) from data_sf6_h where unix_timestamp(d_time) % 900 <> 0")"
    echo "recorder_rows $(q "select count(*) from comtradrd")"
    echo "recorder_names $(q "select group_concat(filename separator \" \") from comtradrd")"
  } >"$RUN/results.txt"'
bash "$SRC/scripts/demo.sh" >"$RUN/demo.out" 2>&1
status=$?

fail=0
check() { # description, command
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
log=$(ls "$RUN"/debug*.log 2>/dev/null | head -n 1)
val() { sed -n "s/^$1 //p" "$RESULTS" 2>/dev/null; }
check "demo script ended cleanly (status $status)" '[ $status -eq 0 ]'
check "log file written" '[ -n "$log" ]'
for s in 0 1; do
  for c in 0 1; do
    check "server $s channel $c connected" "grep -q 'connected to srv:$s, chnl:$c' '$RUN/tarnmon.out' '$log' 2>/dev/null || grep -q 'srv_id=$s  chnl= $c' '$RUN/tarnmon.out'"
  done
done
check "report control blocks enabled" "grep -q '使能成功!!!' '$log'"
check "reports logged" "grep -q 'Receive Report RptID: ' '$log'"
check "mapping loaded" '[ "$(val mapped_rows)" -gt 0 ] 2>/dev/null'
check "temperatures archived" '[ "$(val etp_rows)" -gt 0 ] 2>/dev/null'
check "SF6 values archived" '[ "$(val sf6_rows)" -gt 0 ] 2>/dev/null'
check "temperature rows at 30-minute slot starts" '[ "$(val etp_off_slot)" = 0 ]'
check "SF6 rows at 15-minute slot starts" '[ "$(val sf6_off_slot)" = 0 ]'
# Recorder files: every data file on the FTP server is the device's file,
# byte for byte, and has exactly one comtradrd row.
uploaded=$(cd "$RUN/ftp/root/comtrade" 2>/dev/null && ls -- *.dat 2>/dev/null)
check "recordings in comtradrd" '[ "$(val recorder_rows)" -gt 0 ] 2>/dev/null'
check "recordings on the FTP server" '[ -n "$uploaded" ]'
same=1
for f in $uploaded; do
  src=$(ls "$RUN"/ied/*/files/COMTRADE/"$f" 2>/dev/null | head -n 1)
  if [ -z "$src" ] || ! cmp -s "$src" "$RUN/ftp/root/comtrade/$f"; then echo "differs: $f"; same=0; fi
  n=$(val recorder_names | tr ' ' '\n' | grep -cx -- "$f")
  [ "$n" = 1 ] || { echo "comtradrd rows of $f: $n"; same=0; }
done
check "uploaded recordings identical to the devices' files, one row each" '[ $same = 1 ]'
check "screenshot saved" '[ -s "$RUN/screenshot.png" ]'
# No window manager under Xvfb: tarnmon fills the screen itself, so the
# bottom right corner is the window, not the black root window (mean
# brightness of its last 8x8 pixels, 0..1).
corner=$(convert "$RUN/screenshot.png" -gravity SouthEast -crop 8x8+0+0 +repage -format '%[fx:mean]' info: 2>/dev/null)
check "main window fills the screen (corner brightness $corner)" "awk 'BEGIN { exit !(\"$corner\" + 0 > 0.2) }'"
# Everything the demo starts names a path inside the run folder.
left() { pgrep -f -- "$RUN/" >/dev/null; }
for _ in $(seq 20); do left || break; sleep 0.5; done
check "nothing left running" '! left'
pgrep -af -- "$RUN/" || true
if [ $fail -ne 0 ]; then
  echo "--- demo output"; tail -n 30 "$RUN/demo.out"
  echo "--- results"; cat "$RESULTS" 2>/dev/null
fi
echo "$([ $fail -eq 0 ] && echo 1 || echo 0) passed, $fail failed"
exit $fail
