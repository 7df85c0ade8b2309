#!/usr/bin/env bash
# The main job: tarnmon against a complete simulated station on this machine.
#
#   bash scripts/demo.sh
#
# Installs what is missing, builds, prepares a run folder (run/demo) with
# syscfg.ini, the station file and the sample station's SCL, starts the
# station's IEDs with iedsim on 127.0.0.1 (network A) and 127.0.0.2 (network
# B), a private MariaDB with the schema and the sample mapping, an FTP server,
# and then tarnmon in the run folder: on your display, or under Xvfb when
# there is none (a screenshot is saved to run/demo/screenshot.png every
# DEMO_SHOT_EVERY seconds). Everything listens on loopback, on free ports
# chosen at start, so two users on one machine do not collide. When tarnmon
# exits (or on Ctrl-C) everything started here is stopped; the run folder
# stays for a look (logs, fetched files, the database dump command).
#
# Environment (all optional):
#   DEMO_DIR            run folder (default run/demo)
#   DEMO_BUILD_DIR      build folder (default build-demo)
#   DEMO_DURATION       seconds after which tarnmon is closed (default: until
#                       it exits; under Xvfb 600)
#   DEMO_SHOT_EVERY     seconds between screenshots under Xvfb (default 20)
#   DEMO_RECORD_EVERY   seconds between new recordings on each IED (default 120)
#   DEMO_ARCHIVE_CYCLE  seconds between archiving cycles (default 60)
#   DEMO_COLLECT_EVERY  seconds between recorder file collections (default 300)
#   DEMO_CHECK_PASS_US  receive checker pass in microseconds (default 20000)
#   DEMO_TLS=1          the station over TLS (IEC 62351-3/-4): a test CA and
#                       certificates are made in run/demo/certs, the IEDs
#                       demand tarnmon's certificate, the station file gets
#                       the tls keys (with the devices' fingerprint pinned)
#   ZV_SKIP_INSTALL=1   skip the package check
#   DEMO_BIN_DIR        use the programs already built there (no install, no
#                       build; the tests do this), or installed there: /usr/bin
#                       after installing the Debian package (scripts/package.sh)
#   DEMO_AFTER          a shell command run when tarnmon has ended, before
#                       everything is stopped, with RUN, DB_* and FTP_* set
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUN=${DEMO_DIR:-$ROOT/run/demo}
BUILD=${DEMO_BUILD_DIR:-$ROOT/build-demo}
SHOT_EVERY=${DEMO_SHOT_EVERY:-20}
RECORD_EVERY=${DEMO_RECORD_EVERY:-120}
ARCHIVE_CYCLE=${DEMO_ARCHIVE_CYCLE:-60}
COLLECT_EVERY=${DEMO_COLLECT_EVERY:-300}
CHECK_PASS_US=${DEMO_CHECK_PASS_US:-20000}
PY=/usr/bin/python3

say() { echo "demo: $*"; }
die() { echo "demo: $*" >&2; exit 1; }

if [ -n "${DEMO_BIN_DIR:-}" ]; then
  BIN=$(cd "$DEMO_BIN_DIR" && pwd)
else
  if [ "${ZV_SKIP_INSTALL:-0}" != 1 ]; then bash "$ROOT/scripts/install-deps.sh"; fi
  say "building (in $BUILD)"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DZV_BUILD_BENCH=OFF >"$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; die "configure failed"; }
  targets=(tarnmon zorvan_ld)
  if [ -f "$ROOT/iedsim/CMakeLists.txt" ]; then targets+=(iedsim); fi
  cmake --build "$BUILD" -j "$(nproc)" --target "${targets[@]}"
  BIN=$BUILD/bin
fi

# ---- run folder --------------------------------------------------------------
mkdir -p "$RUN"
RUN=$(cd "$RUN" && pwd)
say "run folder $RUN"
# Stop what an earlier run may have left behind, then start afresh.
for pidfile in "$RUN"/pids/*.pid; do
  [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
done
bash "$ROOT/scripts/mariadb.sh" stop "$RUN/db" >/dev/null 2>&1 || true
bash "$ROOT/scripts/ftpd.sh" stop "$RUN/ftp" >/dev/null 2>&1 || true
rm -rf "$RUN/pids" "$RUN/ied" && mkdir -p "$RUN/pids" "$RUN/ied"
cp "$ROOT/station/sample.scd" "$RUN/"

STARTED=()
cleanup() {
  set +e
  say "stopping everything started here"
  for pid in "${STARTED[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${STARTED[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  bash "$ROOT/scripts/ftpd.sh" stop "$RUN/ftp" >/dev/null 2>&1
  bash "$ROOT/scripts/mariadb.sh" stop "$RUN/db" >/dev/null 2>&1
  rm -rf "$RUN/pids"
  say "done; the run folder $RUN stays (debug*.log, fetched files, ied/*.log)"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() { # ADDR: a TCP port free on ADDR now
  "$PY" -c 'import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); print(s.getsockname()[1]); s.close()' "$1"
}

# ---- database and FTP server ----------------------------------------------------
say "starting MariaDB"
bash "$ROOT/scripts/mariadb.sh" start "$RUN/db" >/dev/null
say "starting the FTP server"
bash "$ROOT/scripts/ftpd.sh" start "$RUN/ftp" 0 tarnmon tarnmon-ftp-pw >/dev/null
# shellcheck disable=SC1091
. "$RUN/db/db.env"
FTP_PORT=$(sed -n 's/^FTP_PORT=//p' "$RUN/ftp/ftpd.env")
FTP_ROOT=$(sed -n 's/^FTP_ROOT=//p' "$RUN/ftp/ftpd.env")

# syscfg.ini: the sample station's settings with this run's ports.
sed -e "s/^port=.*/port=$DB_PORT/" -e "s/^comtradftpport=.*/comtradftpport=$FTP_PORT/" \
    "$ROOT/station/syscfg.ini" >"$RUN/syscfg.ini"

# ---- the IEDs -------------------------------------------------------------------
TLS_OPTS=()
if [ "${DEMO_TLS:-0}" = 1 ]; then
  rm -rf "$RUN/certs"
  bash "$ROOT/scripts/make-certs.sh" "$RUN/certs" || die "cannot make the TLS certificates (openssl)"
  TLS_OPTS=(--tls-cert "$RUN/certs/device.pem" --tls-key "$RUN/certs/device.key" --tls-ca "$RUN/certs/ca.pem")
  say "TLS: certificates in $RUN/certs; IEDs demand the client certificate"
fi
{
  echo "# Station of the demo: the sample station on this run's ports."
  echo "[station]"
  echo "scl = sample.scd"
} >"$RUN/station.ini"
IEDS=(CMIED BAYIED)
for ied in "${IEDS[@]}"; do
  pa=$(free_port 127.0.0.1)
  pb=$(free_port 127.0.0.2)
  printf '\n[ied %s]\naddr_a = 127.0.0.1:%s\naddr_b = 127.0.0.2:%s\nchnlA_NO = 1\nchnlB_NO = 2\n' \
         "$ied" "$pa" "$pb" >>"$RUN/station.ini"
  if [ "${DEMO_TLS:-0}" = 1 ]; then
    printf 'tls = 1\ntls_ca = certs/ca.pem\ntls_cert = certs/client.pem\ntls_key = certs/client.key\ntls_peer_fingerprint = %s\n' \
           "$(cat "$RUN/certs/device.sha256")" >>"$RUN/station.ini"
  fi
  if [ -x "$BIN/iedsim" ]; then
    mkdir -p "$RUN/ied/$ied/files"
    "$BIN/iedsim" --scl "$RUN/sample.scd" --ied "$ied" --listen "127.0.0.1:$pa" --listen "127.0.0.2:$pb" \
        --files "$RUN/ied/$ied/files" --recordings 1 --record-every "$RECORD_EVERY" --seed 1 ${TLS_OPTS[@]+"${TLS_OPTS[@]}"} \
        >"$RUN/ied/$ied.log" 2>&1 &
    STARTED+=($!)
    echo $! >"$RUN/pids/iedsim-$ied.pid"
    say "iedsim $ied on 127.0.0.1:$pa (A) and 127.0.0.2:$pb (B)"
  else
    say "no iedsim built yet: $ied stays unreachable"
  fi
done

# ---- tarnmon ----------------------------------------------------------------------
cd "$RUN"
export ZORVAN_STATION="$RUN/station.ini"
export TARNMON_CHECK_PASS_US=$CHECK_PASS_US
export TARNMON_ARCHIVE_CYCLE_S=$ARCHIVE_CYCLE
export TARNMON_COLLECT_EVERY_S=$COLLECT_EVERY
say "database: mysql -h 127.0.0.1 -P $DB_PORT -u $DB_USER -p$DB_PASSWORD $DB_NAME"
say "          (dump: mysqldump -h 127.0.0.1 -P $DB_PORT -u $DB_USER -p$DB_PASSWORD $DB_NAME)"
say "FTP root: $FTP_ROOT"

if [ -n "${DISPLAY:-}" ]; then
  say "starting tarnmon on $DISPLAY"
  "$BIN/tarnmon" >"$RUN/tarnmon.out" 2>&1 &
  TM=$!
  STARTED+=($TM)
  if [ -n "${DEMO_DURATION:-}" ]; then (sleep "$DEMO_DURATION"; kill "$TM" 2>/dev/null) & fi
  wait "$TM" || true
else
  DURATION=${DEMO_DURATION:-600}
  # No window manager under Xvfb: tarnmon fills the screen itself (--fullscreen),
  # as a maximized window would on a desktop.
  say "no display: tarnmon runs under Xvfb for $DURATION s; screenshots go to $RUN/screenshot.png"
  # On the X server: a QT_QPA_PLATFORM=offscreen of the caller (the tests'
  # environment) would draw nowhere and leave the screenshots black.
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    "$1" --fullscreen >"$2/tarnmon.out" 2>&1 &
    tm=$!
    end=$((SECONDS + $3))
    while kill -0 $tm 2>/dev/null && [ $SECONDS -lt $end ]; do
      sleep "$4"
      import -window root "$2/.screenshot-new.png" 2>/dev/null && mv "$2/.screenshot-new.png" "$2/screenshot.png"
    done
    kill $tm 2>/dev/null; wait $tm 2>/dev/null; true' _ "$BIN/tarnmon" "$RUN" "$DURATION" "$SHOT_EVERY" &
  XV=$!
  STARTED+=($XV)
  wait "$XV" || true
fi
say "tarnmon has ended"
if [ -n "${DEMO_AFTER:-}" ]; then
  export RUN DB_HOST DB_PORT DB_NAME DB_USER DB_PASSWORD FTP_PORT FTP_ROOT
  bash -c "$DEMO_AFTER" || say "DEMO_AFTER failed"
fi
