#!/usr/bin/env bash
# Makes dist/, what a release ships: update.exe (stripped) and mkupdate.exe
# for 32-bit Windows, mkupdate for Linux, and SHA256SUMS over the three.
# Release builds: build/win as build.sh configures it (the programs only)
# and build/native-release (host compiler, no sanitizers).
#
# The 32-bit programs are run first (scripts/check-shipped.sh: under an
# emulator where the host can't run 32-bit code, from 30 s to 3 minutes);
# no dist/ is made unless they pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPD_BUILD_DIR:-$root/build}
dist=$root/dist
jobs=$(nproc)
bash "$root/scripts/bootstrap.sh"
rm -rf "$dist"

cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$build/win" -j"$jobs" --target update mkupdate
cmake -S "$root" -B "$build/native-release" -DCMAKE_BUILD_TYPE=Release -DUPD_SANITIZE=OFF >/dev/null
cmake --build "$build/native-release" -j"$jobs" --target mkupdate

if ! bash "$root/scripts/check-shipped.sh"; then
  echo "dist: the shipped programs failed their check: no dist/" >&2
  exit 1
fi

mkdir -p "$dist"
i686-w64-mingw32-strip -o "$dist/update.exe" "$build/win/driver/update.exe"
cp "$build/win/tools/mkupdate/mkupdate.exe" "$dist/mkupdate.exe"
cp "$build/native-release/tools/mkupdate/mkupdate" "$dist/mkupdate"

# Players have no mingw runtime: the programs may import system DLLs only.
for exe in update.exe mkupdate.exe; do
  if i686-w64-mingw32-objdump -p "$dist/$exe" | grep -i 'DLL Name: lib'; then
    echo "dist: $exe needs a DLL that Windows does not have" >&2
    exit 1
  fi
done

(cd "$dist" && sha256sum update.exe mkupdate.exe mkupdate >SHA256SUMS)
echo "dist: $dist"
(cd "$dist" && ls -l update.exe mkupdate.exe mkupdate && cat SHA256SUMS)
