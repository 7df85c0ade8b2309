#!/usr/bin/env bash
# Station soak: tarnmon headless against a simulated station of N IEDs
# (both networks) with a private MariaDB and an FTP server, under a seeded
# random schedule of faults, then a count of what arrived (no buffered
# entry lost or repeated, every recording once, flat resources).
#
#   bash scripts/soak.sh
#
# Builds what is missing (tarnmon, iedsim, the stack) and runs
# bench/soak/soak.py; the figures are printed and kept in
# run/soak/soak-report.txt. Exit status 1 when a check failed.
#
# Environment (all optional):
#   SOAK_MINUTES     length of the run (default 10; the ctest run uses 2)
#   SOAK_IEDS        number of IEDs (default 20)
#   SOAK_SEED        seed of the fault schedule (default 1)
#   SOAK_DIR         run folder (default run/soak)
#   SOAK_BUILD_DIR   build folder (default build-soak)
#   SOAK_BIN_DIR     use the programs already built there (no build)
#   SOAK_ARGS        more options of bench/soak/soak.py (--help lists them)
#   ZV_SKIP_INSTALL=1  skip the package check
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${SOAK_BUILD_DIR:-$ROOT/build-soak}

if [ -n "${SOAK_BIN_DIR:-}" ]; then
  BIN=$(cd "$SOAK_BIN_DIR" && pwd)
else
  if [ "${ZV_SKIP_INSTALL:-0}" != 1 ]; then bash "$ROOT/scripts/install-deps.sh"; fi
  echo "soak: building (in $BUILD)"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DZV_BUILD_BENCH=OFF >"$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; exit 1; }
  cmake --build "$BUILD" -j "$(nproc)" --target tarnmon zorvan_ld iedsim
  BIN=$BUILD/bin
fi

# shellcheck disable=SC2086
exec /usr/bin/python3 "$ROOT/bench/soak/soak.py" --bin "$BIN" --run "${SOAK_DIR:-$ROOT/run/soak}" \
  --minutes "${SOAK_MINUTES:-10}" --ieds "${SOAK_IEDS:-20}" --seed "${SOAK_SEED:-1}" ${SOAK_ARGS:-}
