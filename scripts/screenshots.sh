#!/usr/bin/env bash
# Takes the screenshots of the program's windows and message boxes: runs the
# window tests, which save BMP images under build/win/screenshots while the
# windows are up, and turns them into the PNG files under docs/screenshots.
# Build first (scripts/build.sh). UPD_DISPLAY_NUMBER picks the Xvfb display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/wine-session.sh"
upd_start_session
shots="$UPD_WIN_TREE/screenshots"
rm -rf "$shots"
for test in confirm_dialog progress_dialog; do
  wine "$UPD_WIN_TREE/tests/windows/win_test_$test.exe" >/dev/null </dev/null
done
mkdir -p "$root/docs/screenshots"
for bmp in "$shots"/*.bmp; do
  convert "$bmp" -strip "$root/docs/screenshots/$(basename "${bmp%.bmp}").png"
done
ls "$root/docs/screenshots"
