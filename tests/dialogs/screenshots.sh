#!/usr/bin/env bash
# Takes the screenshots of the working dialogs under Xvfb (xcb platform) into
# docs/screenshots: dialog_rcb.png (a block read from iedsim),
# dialog_filetran.png (a listing of iedsim's store),
# dialog_filetran_progress.png (a long fetch under way), dialog_ctrl.png (a
# refused operate with its reason), dialog_sg.png (the active group's
# settings) and dialog_lcb.png (the entries of a log query).
# Usage: tests/dialogs/screenshots.sh [build dir]   (default: build)
# TARNMON_LANG=en: the same dialogs in English, as dialog_*_en.png.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR="${1:-build}"
cmake --build "$BUILD_DIR" --target dialog_device_tests iedsim zorvan_ld
mkdir -p docs/screenshots
TARNMON_SCREENSHOT_DIR="$PWD/docs/screenshots" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$BUILD_DIR/bin/dialog_device_tests" --gtest_filter='Screenshot.*'
ls -lt docs/screenshots/dialog_*.png
