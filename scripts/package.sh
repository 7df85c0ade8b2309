#!/usr/bin/env bash
# Builds the Debian package of tarnmon (CPack, DEB):
#
#   bash scripts/package.sh            -> dist/tarnmon_<version>_<arch>.deb
#
# Reuses the build folder BUILD_DIR (default build/; configured here when it is
# new) and builds only the installed programs, so after `bash scripts/test.sh`
# it costs the packing alone. PACKAGE_DIR names the output folder (default
# dist/). Environment: ZV_SKIP_INSTALL=1 to skip apt. packaging/CMakeLists.txt
# says what goes where. Install with `sudo apt-get install ./dist/tarnmon_*.deb`.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
BUILD_DIR=${BUILD_DIR:-build}
OUT=${PACKAGE_DIR:-dist}
if [ "${ZV_SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DZV_BUILD_BENCH=OFF
else
  cmake "$BUILD_DIR" >/dev/null   # picks up changed install rules
fi
cmake --build "$BUILD_DIR" -j "$(nproc 2>/dev/null || echo 2)" \
      --target tarnmon tarnview tarnwave iedsim sockpump fdnotify zorvan_ld
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
rm -f "$OUT"/tarnmon_*.deb
(cd "$BUILD_DIR" && cpack -G DEB -B "$OUT/.cpack" >"$OUT/.cpack.log" 2>&1) ||
  { cat "$OUT/.cpack.log"; echo "package: cpack failed" >&2; exit 1; }
mv "$OUT"/.cpack/tarnmon_*.deb "$OUT/"
rm -f "$OUT/.cpack.log"
rm -rf "$OUT/.cpack"
deb=$(ls "$OUT"/tarnmon_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
