#!/usr/bin/env bash
# Kills update.exe at many points of a run (UPD_KILL_POINTS, default 100,
# spread evenly from the start click to past the final message), starts it
# again each time and prints, for each, what the second start said, what it
# settled the game folder to (as before the run, or as after a complete
# one) and whether installing from there gave what an uninterrupted run
# gives. Fails when any of them is wrong. The test suite runs the same check
# at four points.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" >/dev/null
source "$root/scripts/lib/wine-session.sh"
upd_start_session
export UPD_KILL_POINTS=${UPD_KILL_POINTS:-100}
# timeout runs a program, not the wine function of lib/wine-env.sh: name the loader.
timeout 1800 "$UPD_WINE" "$UPD_WIN_TREE/tests/e2e/e2e_test_faults_e2e.exe" --gtest_filter='*Killed*' | tr -d '\r' |
  grep -a -v -E '^\[|^Note|^Running'
