#!/usr/bin/env bash
# Configures and builds the trees: build/native (host compiler, sanitizers),
# build/win (mingw-w64 for 32-bit Windows: the shipped update.exe and
# mkupdate.exe, and the Windows tests) and, on a host whose Wine runs 64-bit
# programs only, build/win64 (the Windows tests, the demo and the benchmarks
# for 64-bit Windows; see lib/wine-env.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/wine-env.sh"
build=$UPD_BUILD_DIR
jobs=$(nproc)

configure_windows() { # tree, architecture
  cmake -S "$root" -B "$build/$1" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$2-mingw.cmake" >/dev/null
}

cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native" -j"$jobs"
configure_windows win i686
if [ "$UPD_WIN_ARCH" = x86_64 ]; then
  # The 32-bit programs are built as shipped; their tests run from win64.
  cmake --build "$build/win" -j"$jobs" --target update mkupdate
  configure_windows win64 x86_64
  cmake --build "$build/win64" -j"$jobs"
  tested=win64
else
  cmake --build "$build/win" -j"$jobs"
  tested=win
fi
# One CTest tree over both builds, so that one run ends in one summary.
printf 'subdirs("native" "%s")\n' "$tested" >"$build/CTestTestfile.cmake"
