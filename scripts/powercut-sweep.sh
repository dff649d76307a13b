#!/usr/bin/env bash
# Cuts the power under update.exe at many points of a run (UPD_POWERCUT_POINTS,
# default 100, spread evenly in time from the start click to past the final
# message; UPD_POWERCUT_CALL_POINTS, default 45, spread over the run's
# changing calls, and each of its last 15 calls; one in four also cuts the
# next start's settling): the game folder lies on
# the power-cut simulator (tests/powercut, a FUSE file system that forgets
# what was not flushed), mounted behind the Wine drive P:. After each cut the
# machine "starts again", a second start settles and installs. Prints, for
# each point, what the cut dropped, what the second start said, what it
# settled the folder to, the files lost and damaged, and whether installing
# from there gave what an uninterrupted run gives. Fails when any is wrong.
# Needs root and /dev/fuse. UPD_POWERCUT_STRICT=1 runs the simulator with
# --strict (only a flush of a folder makes names durable).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${UPD_POWERCUT_NO_BUILD:-}" ]; then
  bash "$root/scripts/bootstrap.sh"
  bash "$root/scripts/build.sh" >/dev/null
fi
source "$root/scripts/lib/wine-session.sh"
source "$root/scripts/lib/powercut.sh"
flags=()
[ -z "${UPD_POWERCUT_STRICT:-}" ] || flags+=(--strict)
upd_mount_powercut "${flags[@]}"
upd_start_session
trap 'upd_unmount_powercut; upd_stop_session' EXIT
export UPD_POWERCUT_POINTS=${UPD_POWERCUT_POINTS:-100} UPD_POWERCUT_CALL_POINTS=${UPD_POWERCUT_CALL_POINTS:-45}
# timeout runs a program, not the wine function of lib/wine-env.sh: name the loader.
timeout 3600 "$UPD_WINE" "$UPD_WIN_TREE/tests/e2e/e2e_test_powercut_e2e.exe" | tr -d '\r' |
  grep -a -v -E '^\[|^Note|^Running'
