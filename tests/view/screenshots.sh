#!/usr/bin/env bash
# Takes the pictures of the recording window (docs/screenshots/tarnwave.png:
# a recording that iedsim wrote for CMIED of the sample station) and of the
# archived trend (docs/screenshots/trend.png: a day of rows in a private
# MariaDB) under Xvfb (xcb platform).
# Usage: tests/view/screenshots.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR="${1:-build}"
cmake --build "$BUILD_DIR" --target view_tests view_db_tests iedsim zorvan_ld tarnwave
mkdir -p docs/screenshots
DB_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarnmon-shot-db.XXXXXX")
trap 'bash scripts/mariadb.sh stop "$DB_DIR" >/dev/null 2>&1 || true; rm -rf "$DB_DIR"' EXIT
bash scripts/mariadb.sh start "$DB_DIR" >/dev/null
export TARNMON_SCREENSHOT_DIR="$PWD/docs/screenshots" QT_QPA_PLATFORM=xcb
export TARNMON_DB_DIR="$DB_DIR" TARNMON_MARIADB_SH="$PWD/scripts/mariadb.sh"
xvfb-run -a -s "-screen 0 1400x1000x24" "$BUILD_DIR/bin/view_tests" --gtest_filter='Screenshot.*'
xvfb-run -a -s "-screen 0 1400x1000x24" "$BUILD_DIR/bin/view_db_tests" --gtest_filter='Screenshot.*'
ls -l docs/screenshots/tarnwave.png docs/screenshots/trend.png
