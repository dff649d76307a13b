#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures and
# ratios. Not part of the tests: timings belong here, not in pass/fail checks.
# UPD_BENCH_ONLY=loader|list|extract|run runs one of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
only=${UPD_BENCH_ONLY:-}
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" >/dev/null
source "$root/scripts/wine-env.sh"
cmake --build "$UPD_BUILD_DIR/win" --target bench -j"$(nproc)" >/dev/null

run_in_session() {
  (
    source "$root/scripts/wine-session.sh"
    upd_start_session
    echo "== $1"
    wine "$UPD_BUILD_DIR/win/bench/$1.exe"
  )
}
[ -z "$only" ] || [ "$only" = loader ] && run_in_session bench_loader
[ -z "$only" ] || [ "$only" = list ] && run_in_session bench_uninstall_list
[ -z "$only" ] || [ "$only" = extract ] && { echo "== extraction pass against cp"; bash "$root/scripts/bench-extract.sh"; }
[ -z "$only" ] || [ "$only" = run ] && [ -f "$root/scripts/bench-run.sh" ] && { echo "== whole program against cp"; bash "$root/scripts/bench-run.sh"; }
exit 0
