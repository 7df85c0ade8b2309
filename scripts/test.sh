#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   bash scripts/test.sh            (build folder: build/)
# Environment: BUILD_DIR to build elsewhere, ZV_SKIP_INSTALL=1 to skip apt,
# ZV_SKIP_PACKAGE_TEST=1 to leave out installing the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ "${ZV_SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
JOBS=$(nproc 2>/dev/null || echo 2)
# Test builds carry no full debug information (it costs about 40 % of the
# compile time): none in the normal build, line tables in the sanitizer builds
# so that their reports still name file and line.
NO_DEBUG=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG")
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "${NO_DEBUG[@]}"
cmake --build "$BUILD_DIR" -j "$JOBS"
# The stack's own tests run a second time under AddressSanitizer and UBSan.
ASAN_DIR="$BUILD_DIR-asan"
cmake -S . -B "$ASAN_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DZV_SANITIZE=ON \
      -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
      -DZV_BUILD_APP=OFF -DZV_BUILD_BENCH=OFF
cmake --build "$ASAN_DIR" -j "$JOBS"
# The client tests (threads, wake-ups, callbacks) a third time under
# ThreadSanitizer: only what they need is built.
TSAN_DIR="$BUILD_DIR-tsan"
cmake -S . -B "$TSAN_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DZV_SANITIZE_THREAD=ON \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
      -DZV_BUILD_APP=OFF -DZV_BUILD_BENCH=OFF -DZV_TEST_AREAS=client
cmake --build "$TSAN_DIR" -j "$JOBS" --target client_tests
export QT_QPA_PLATFORM=offscreen
status=0
failed=()   # the runs that failed, for the summary at the very end
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$JOBS" --timeout 600) || { status=1; failed+=("$BUILD_DIR"); }
(cd "$ASAN_DIR" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$JOBS" --timeout 900 -LE no_asan) ||
  { status=1; failed+=("$ASAN_DIR"); }
(cd "$TSAN_DIR" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j "$JOBS" --timeout 600 -L client) ||
  { status=1; failed+=("$TSAN_DIR"); }
# The Debian package, from the normal build folder (no second build):
# installed, the demo run against the installed programs, purged. It installs
# into this machine (root or sudo); ZV_SKIP_PACKAGE_TEST=1 leaves it out.
if [ "${ZV_SKIP_PACKAGE_TEST:-0}" != 1 ]; then
  bash tests/package/install_test.sh "$BUILD_DIR" || { status=1; failed+=("package"); }
fi
# Whoever reads only the end of a long log still sees what failed.
for run in "${failed[@]}"; do
  echo "FAILED in $run:"
  if [ -f "$run/Testing/Temporary/LastTestsFailed.log" ]; then
    sed 's/^/  /' "$run/Testing/Temporary/LastTestsFailed.log"
  fi
done
if [ $status -eq 0 ]; then echo "all tests passed"; fi
exit $status
