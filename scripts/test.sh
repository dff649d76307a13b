#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: native
# tests under ASan/UBSan, Windows and end-to-end tests under Wine and Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/check-layers.sh"
bash "$root/scripts/build.sh"
source "$root/scripts/lib/wine-session.sh"
upd_start_session
ctest --test-dir "$UPD_BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
