#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: native
# tests under ASan/UBSan, Windows and end-to-end tests under Wine and Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/check-layers.sh"
bash "$root/scripts/build.sh"
source "$root/scripts/lib/wine-session.sh"
source "$root/scripts/lib/powercut.sh"
# The power-cut test's few points, when the simulator can be mounted.
export UPD_POWERCUT_POINTS=2 UPD_POWERCUT_CALL_POINTS=2
upd_mount_powercut || true
upd_start_session
trap 'upd_unmount_powercut; upd_stop_session' EXIT
ctest --test-dir "$UPD_BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
