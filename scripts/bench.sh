#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures and
# ratios. Not part of the tests: timings belong here, not in pass/fail checks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" >/dev/null
source "$root/scripts/wine-session.sh"
cmake --build "$UPD_BUILD_DIR/win" --target bench -j"$(nproc)" >/dev/null
upd_start_session
for exe in "$UPD_BUILD_DIR"/win/bench/bench_*.exe; do
  echo "== $(basename "$exe" .exe)"
  wine "$exe"
done
