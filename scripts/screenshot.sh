#!/usr/bin/env bash
# A picture of the main window on the sample station (docs/screenshots/tarnmon.png).
#
#   bash scripts/screenshot.sh [OUT.png]
#   TARNMON_LANG=en bash scripts/screenshot.sh   (English: docs/screenshots/tarnmon_en.png)
#
# Builds the stack, iedsim and tarnmon_screenshot (tests/app/screenshot_main.cpp)
# in SHOT_BUILD_DIR (default build-shot), unless SHOT_BIN_DIR names a folder
# where they are built already; starts the sample station's two IEDs with
# iedsim on loopback (networks A on 127.0.0.1 and B on 127.0.0.2, free ports),
# and runs the helper under Xvfb at 1600x1000: it waits until both servers are
# connected and their report control blocks enabled, opens the tree to the
# first data set, clicks it (the value table shows its members and values) and
# saves the window. The message pane shows the start-up messages and the
# channel events. Chinese texts need a CJK font (fonts-noto-cjk).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${TARNMON_LANG:-}" ] && [ "${TARNMON_LANG%%[_.-]*}" != zh ]; then
  OUT=${1:-$ROOT/docs/screenshots/tarnmon_${TARNMON_LANG%%[_.-]*}.png}
else
  OUT=${1:-$ROOT/docs/screenshots/tarnmon.png}
fi
BUILD=${SHOT_BUILD_DIR:-$ROOT/build-shot}

say() { echo "screenshot: $*"; }
die() { echo "screenshot: $*" >&2; exit 1; }

if [ -n "${SHOT_BIN_DIR:-}" ]; then
  BIN=$(cd "$SHOT_BIN_DIR" && pwd)
else
  say "building (in $BUILD)"
  cmake -S "$ROOT" -B "$BUILD" -DZV_TEST_AREAS=app -DZV_BUILD_BENCH=OFF >"$BUILD.configure.log" 2>&1 ||
    { cat "$BUILD.configure.log"; die "configure failed"; }
  cmake --build "$BUILD" -j2 --target tarnmon_screenshot iedsim zorvan_ld
  BIN=$BUILD/bin
fi
for prog in tarnmon_screenshot iedsim; do [ -x "$BIN/$prog" ] || die "no $BIN/$prog"; done
LIB=$BIN/libzorvan_ld.so
[ -f "$LIB" ] || LIB=$(find "$BIN/.." -name libzorvan_ld.so -print -quit)
[ -f "$LIB" ] || die "no libzorvan_ld.so near $BIN"

RUN=$(mktemp -d "${TMPDIR:-/tmp}/tarnmon-shot.XXXXXX")
PIDS=()
cleanup() {
  set +e
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$RUN"
}
trap cleanup EXIT

cp "$ROOT/station/sample.scd" "$LIB" "$RUN/"
printf '[station]\nscl = sample.scd\n' >"$RUN/station.ini"
for ied in CMIED BAYIED; do
  mkdir -p "$RUN/$ied"
  "$BIN/iedsim" --scl "$RUN/sample.scd" --ied "$ied" --listen 127.0.0.1:0 --listen 127.0.0.2:0 \
      --files "$RUN/$ied" --port-file "$RUN/$ied.ports" --seed 1 >"$RUN/$ied.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 200); do
    grep -q '^B ' "$RUN/$ied.ports" 2>/dev/null && break
    kill -0 "${PIDS[-1]}" 2>/dev/null || { cat "$RUN/$ied.log"; die "iedsim $ied did not start"; }
    sleep 0.1
  done
  grep -q '^B ' "$RUN/$ied.ports" || die "iedsim $ied wrote no ports"
  a=$(sed -n 's/^A //p' "$RUN/$ied.ports")
  b=$(sed -n 's/^B //p' "$RUN/$ied.ports")
  printf '\n[ied %s]\naddr_a = %s\naddr_b = %s\nchnlA_NO = 1\nchnlB_NO = 2\n' "$ied" "$a" "$b" >>"$RUN/station.ini"
  say "iedsim $ied on $a (A) and $b (B)"
done

mkdir -p "$(dirname "$OUT")"
OUT_ABS=$(cd "$(dirname "$OUT")" && pwd)/$(basename "$OUT")
cd "$RUN"
ZORVAN_STATION="$RUN/station.ini" xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$BIN/tarnmon_screenshot" "$OUT_ABS" "${SHOT_WAIT:-120}"
say "saved $OUT_ABS"
