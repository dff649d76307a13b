#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time (FUZZ_SECONDS, default 60)
# with AddressSanitizer and UndefinedBehaviorSanitizer. Corpora start from
# packages made by mkupdate and the seeds in tests/fuzz/seeds; they grow in
# build/fuzz. A crash leaves its input in build/fuzz/<target>/ and fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPD_BUILD_DIR:-$root/build}
seconds=${FUZZ_SECONDS:-60}
bash "$root/scripts/bootstrap.sh"
source "$root/scripts/lib/install.sh"
upd_install_packages clang libclang-rt-14-dev
bash "$root/scripts/build.sh" >/dev/null
out=$build/fuzz
mkdir -p "$out"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root")

declare -A sources=(
  [fuzz_package]="tests/fuzz/fuzz_package.cpp archive/package_format.cpp archive/data_check.cpp archive/hash.cpp
    archive/package_signature.cpp archive/sha256.cpp common/cp932.cpp common/name_fold.cpp"
)
[ -f "$root/tests/fuzz/fuzz_uninstall_codec.cpp" ] &&
  sources[fuzz_uninstall_codec]="tests/fuzz/fuzz_uninstall_codec.cpp journal/uninstall_codec.cpp common/name_fold.cpp common/cp932.cpp"

seed_packages() {
  local corpus=$1 work=$out/seed-src
  rm -rf "$work" && mkdir -p "$work/a/data" "$work/b"
  printf abc >"$work/a/a.txt"
  printf 'x%.0s' $(seq 300) >"$work/a/data/x.bin"
  : >"$work/b/empty.bin"
  "$build/native/tools/mkupdate/mkupdate" build "$work/a" -o "$corpus/seed-a.dat" >/dev/null
  "$build/native/tools/mkupdate/mkupdate" build "$work/b" -o "$corpus/seed-b.dat" >/dev/null
  "$build/native/tools/mkupdate/mkupdate" build "$root/demo/game" -o "$corpus/seed-c.dat" >/dev/null
  rm -f "$work/seed.key" "$work/seed.pub"
  "$build/native/tools/mkupdate/mkupdate" keygen "$work/seed" >/dev/null
  "$build/native/tools/mkupdate/mkupdate" build "$work/a" -o "$corpus/seed-d.dat" --sign "$work/seed.key" >/dev/null
}

status=0
for target in "${!sources[@]}"; do
  dir=$out/$target
  mkdir -p "$dir/corpus"
  # Every word of the list, over all its lines (read stops at NUL, not at a newline).
  read -r -d '' -a files <<<"${sources[$target]}" || true
  clang++ "${flags[@]}" "${files[@]/#/$root/}" -o "$dir/$target"
  [ "$target" = fuzz_package ] && seed_packages "$dir/corpus"
  [ -d "$root/tests/fuzz/seeds/$target" ] && cp -n "$root/tests/fuzz/seeds/$target"/* "$dir/corpus/" 2>/dev/null || true
  echo "== $target for $seconds s"
  (cd "$dir" && "./$target" -max_total_time="$seconds" -print_final_stats=1 corpus 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|Done') || status=1
done
exit $status
