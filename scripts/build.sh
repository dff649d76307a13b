#!/usr/bin/env bash
# Configures and builds both trees: build/native (host compiler, sanitizers)
# and build/win (mingw-w64, update.exe and the Windows tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPD_BUILD_DIR:-$root/build}
jobs=$(nproc)
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native" -j"$jobs"
cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$build/win" -j"$jobs"
# One CTest tree over both builds, so that one run ends in one summary.
printf 'subdirs("native" "win")\n' >"$build/CTestTestfile.cmake"
