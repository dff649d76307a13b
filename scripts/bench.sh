#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures and
# ratios. Not part of the tests: timings belong here, not in pass/fail checks.
# UPD_BENCH_ONLY=loader|list|extract|run runs one of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
only=${UPD_BENCH_ONLY:-}
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" >/dev/null
source "$root/scripts/lib/wine-session.sh"
source "$root/scripts/lib/bench-extract.sh"
source "$root/scripts/lib/bench-run.sh"
# The one build of this command: the benchmarks below only run.
cmake --build "$UPD_WIN_TREE" --target bench -j"$(nproc)" >/dev/null

wanted() { [ -z "$only" ] || [ "$only" = "$1" ]; }

run_in_session() (
  upd_start_session
  echo "== $1"
  wine "$UPD_WIN_TREE/bench/$1.exe"
)
if wanted loader; then run_in_session bench_loader; fi
if wanted list; then run_in_session bench_uninstall_list; fi
if wanted extract; then
  echo "== extraction pass against cp"
  upd_bench_extract
fi
if wanted run; then
  echo "== whole program against a plain Win32 copier, cp and cp then sync"
  upd_bench_run
fi
