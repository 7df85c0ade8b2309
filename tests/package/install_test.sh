#!/usr/bin/env bash
# The Debian package on this machine: builds it from the build folder
# (scripts/package.sh), installs it with apt, checks where things went, runs
# the demo station against the installed programs (DEMO_BIN_DIR=/usr/bin:
# tarnmon headless under Xvfb against iedsim, the stack library found in its
# private folder) for a bounded time, checks that tarnmon connected both
# channels of both IEDs, purges the package and checks that none of its files
# is left.
#
#   bash tests/package/install_test.sh BUILD_DIR
#
# Needs root (or sudo); scripts/test.sh runs it in CI. It refuses to run on a
# machine where a tarnmon package is installed already (it would purge it).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?build folder}" && pwd)
WORK=$BUILD/package-test
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

fail=0
check() { # description, command
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
die() { echo "package test: $*" >&2; exit 1; }

if dpkg-query -W -f='${Status}' tarnmon 2>/dev/null | grep -q installed; then
  die "a tarnmon package is installed on this machine already; remove it first"
fi
rm -rf "$WORK" && mkdir -p "$WORK"

start=$SECONDS
PACKAGE_DIR=$WORK/dist BUILD_DIR=$BUILD ZV_SKIP_INSTALL=1 bash "$ROOT/scripts/package.sh" >"$WORK/package.out" 2>&1 ||
  { cat "$WORK/package.out"; die "scripts/package.sh failed"; }
deb=$(ls "$WORK"/dist/tarnmon_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || die "no .deb in $WORK/dist"
echo "package: $(basename "$deb") built in $((SECONDS - start)) s, $(du -k "$deb" | cut -f1) KiB"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# Computed by dpkg-shlibdeps from the programs, not written by hand.
check "dependencies computed from the programs" '[[ $depends == *libqt6widgets6* && $depends == *libc6* && $depends == *libcurl4* ]]'

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y -q --no-install-recommends "$deb" >"$WORK/apt-install.out" 2>&1 ||
  { cat "$WORK/apt-install.out"; die "apt-get install failed"; }
dpkg -L tarnmon | sort >"$WORK/files.txt"
trap '$SUDO dpkg --purge tarnmon >/dev/null 2>&1 || true' EXIT

for prog in tarnmon tarnview tarnwave iedsim sockpump fdnotify tarnmon-station; do
  check "/usr/bin/$prog installed" "[ -x /usr/bin/$prog ]"
done
lib=$(grep '/libzorvan_ld.so$' "$WORK/files.txt")
check "stack library in its private folder ($lib)" '[[ $lib == /usr/lib/*tarnmon/libzorvan_ld.so ]] && [ -f "$lib" ]'
for f in db/schema.sql db/sample-mapping.sql station/sample.scd station/station.ini station/syscfg.ini; do
  check "/usr/share/tarnmon/$f installed" "[ -s /usr/share/tarnmon/$f ]"
done
check "syscfg.ini commented, with its [ui] language" "grep -q '^; ' /usr/share/tarnmon/station/syscfg.ini && grep -q '^language=' /usr/share/tarnmon/station/syscfg.ini"
check "desktop entry and icon" "grep -q '^Exec=tarnmon-station' /usr/share/applications/tarnmon.desktop && [ -s /usr/share/icons/hicolor/scalable/apps/tarnmon.svg ]"
check "every library of the programs resolves" "! ldd /usr/bin/tarnmon /usr/bin/tarnwave /usr/bin/iedsim '$lib' | grep -q 'not found'"
check "programs stripped" "! file -L /usr/bin/tarnmon '$lib' | grep -q 'not stripped'"

# The demo against the installed programs: the run folder holds no stack
# library, so tarnmon must find the installed one.
RUN=$WORK/demo
DEMO_DIR=$RUN DEMO_BIN_DIR=/usr/bin DEMO_DURATION=${PACKAGE_DEMO_SECONDS:-25} DEMO_SHOT_EVERY=5 \
  DEMO_CHECK_PASS_US=2000 ZV_SKIP_INSTALL=1 DISPLAY= bash "$ROOT/scripts/demo.sh" >"$WORK/demo.out" 2>&1
status=$?
check "demo against the installed programs ended cleanly (status $status)" '[ $status -eq 0 ]'
check "no stack library in the run folder" "[ ! -e '$RUN/libzorvan_ld.so' ]"
check "installed tarnmon loaded the stack library" "! grep -q 'cannot open shared object' '$RUN/tarnmon.out'"
log=$(ls "$RUN"/debug*.log 2>/dev/null | head -n 1)
for s in 0 1; do
  for c in 0 1; do
    # tarnmon's trace line of the connect event (the pane's "connected to
    # srv:" line is not logged).
    check "server $s channel $c connected" "grep -q 'srv_id=$s  chnl= $c' '$RUN/tarnmon.out'"
  done
done
check "report control blocks enabled" "[ -n '$log' ] && grep -q '使能成功!!!' '$log'"
check "screenshot saved" "[ -s '$RUN/screenshot.png' ]"
# The window fills the screen: the screenshot's corner is not the black root window.
corner=$(convert "$RUN/screenshot.png" -gravity SouthEast -crop 8x8+0+0 +repage -format '%[fx:mean]' info: 2>/dev/null)
check "main window fills the screen (corner brightness $corner)" "awk 'BEGIN { exit !(\"$corner\" + 0 > 0.2) }'"

$SUDO dpkg --purge tarnmon >"$WORK/purge.out" 2>&1 || { cat "$WORK/purge.out"; fail=1; }
trap - EXIT
check "package gone" "! dpkg-query -W -f='\${Status}' tarnmon 2>/dev/null | grep -q installed"
# Every file of the package is gone; of its folders only those that other
# packages own stay.
left=()
while read -r path; do
  [ -e "$path" ] || continue
  if [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
  left+=("$path")
done <"$WORK/files.txt"
check "nothing of the package left (${left[*]:-})" '[ ${#left[@]} -eq 0 ]'

if [ $fail -ne 0 ]; then
  echo "--- demo output"; tail -n 30 "$WORK/demo.out"
  echo "--- tarnmon output"; tail -n 20 "$RUN/tarnmon.out" 2>/dev/null
fi
echo "package test: $([ $fail -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
exit $fail
