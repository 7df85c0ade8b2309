#!/usr/bin/env bash
# Takes the screenshots of the working dialogs under Xvfb (xcb platform) into
# docs/screenshots: dialog_rcb.png (a block read from iedsim) and
# dialog_filetran.png (a listing of iedsim's store).
# Usage: tests/dialogs/screenshots.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR="${1:-build}"
cmake --build "$BUILD_DIR" --target dialog_device_tests iedsim zorvan_ld
mkdir -p docs/screenshots
TARNMON_SCREENSHOT_DIR="$PWD/docs/screenshots" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$BUILD_DIR/bin/dialog_device_tests" --gtest_filter='Screenshot.*'
ls -l docs/screenshots/dialog_rcb.png docs/screenshots/dialog_filetran.png
