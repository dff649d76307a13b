#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures and
# ratios. Not part of the tests: timings belong here, not in pass/fail checks.
# UPD_BENCH_ONLY=loader|list|extract|sha256|run runs one of them.
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
if wanted sha256; then
  run_in_session bench_sha256
  # The host's own, over the same amount, beside ours.
  openssl speed -evp sha256 -bytes 1048576 -seconds 3 2>/dev/null |
    awk '$1 == "sha256" { sub(/k$/, "", $2); r = $2 * 1000 / 1048576; printf "sha256 %-28s %8.0f MiB/s (%.2f s a GiB)\n", "openssl speed -evp (host)", r, 1024 / r }'
  sums=$(mktemp) && head -c $((256 << 20)) /dev/urandom >"$sums"
  t0=$(date +%s.%N) && sha256sum "$sums" >/dev/null && t1=$(date +%s.%N)
  rm -f "$sums"
  echo "$t0 $t1" | awk '{ r = 256 / ($2 - $1); printf "sha256 %-28s %8.0f MiB/s (%.2f s a GiB)\n", "sha256sum (host)", r, 1024 / r }'
fi
if wanted extract; then
  echo "== extraction pass against cp"
  upd_bench_extract
fi
if wanted run; then
  echo "== whole program against a plain Win32 copier, cp and cp then sync"
  upd_bench_run
fi
