#!/usr/bin/env bash
# The application's tests (main window, dialogs, tarnmon as a process) under
# AddressSanitizer, UBSan and LeakSanitizer. CI runs the stack's tests under
# the sanitizers; this takes the application too, when there is time for it.
#   bash scripts/test-app-asan.sh        (build folder: build-asan-app/)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-asan-app}
if [ "${ZV_SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DZV_SANITIZE=ON -DZV_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" -j "$JOBS" --target app_tests dialog_tests dialog_device_tests tarnmon iedsim
export QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1
cd "$BUILD_DIR" && ctest --output-on-failure -j "$JOBS" --timeout 900 -L 'app|dialogs'
