#!/usr/bin/env bash
# Runs the programs a release ships, the 32-bit update.exe and mkupdate.exe
# of build/win, before they ship: update.exe through five walks (an install
# that creates and replaces files and finishes, a cancel that rolls back, a
# refused package, a branded copy with signed and unsigned packages, a killed
# run settled by the next start) and mkupdate.exe's build, list and verify,
# compared byte for byte with the native mkupdate, and its keys and
# signatures crossed with the native one's.
#
# Where the host runs 32-bit x86 code this is the 32-bit Wine of the tests.
# Where it doesn't, the script runs itself again in a user namespace of its
# own, registers qemu-i386 (Debian's qemu-user) as the binfmt handler of
# 32-bit programs there (a kernel from 6.7 on gives each user namespace its
# own binfmt_misc: nothing is registered outside it), and runs the shipped
# programs through the 64-bit Wine with a 64-bit prefix made in that
# namespace (build/wineprefix-shipped, about 40 s once; it holds the 32-bit
# system DLLs). Only the shipped program is emulated: the drivers, the checks
# and the settings are native 64-bit, and each walk starts one 32-bit
# process.
#
# --emulated takes the second way even where the host runs 32-bit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)

# The handler for i386 ELF programs, as qemu's own scripts register it; F
# opens the emulator now, so that it serves every mount namespace below.
qemu_i386_handler=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

seconds_since() { echo $(($(date +%s) - $1)); }

# Outside the namespace: install, build, then enter it when emulating.
prepare() {
  bash "$root/scripts/bootstrap.sh"
  source "$root/scripts/lib/wine-env.sh"
  if [ "${1:-}" = --emulated ] || [ "$UPD_WIN_ARCH" = x86_64 ]; then
    export UPD_SHIPPED_MODE=emulated UPD_WIN_ARCH=x86_64
  else
    export UPD_SHIPPED_MODE=native
  fi
  local build=$UPD_BUILD_DIR jobs
  jobs=$(nproc)
  configure() { # tree, architecture, build type
    cmake -S "$root" -B "$build/$1" -DCMAKE_BUILD_TYPE="$3" ${2:+-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$2-mingw.cmake"} >/dev/null
  }
  configure win i686 Release
  cmake --build "$build/win" -j"$jobs" --target update mkupdate >/dev/null
  configure native "" Debug
  cmake --build "$build/native" -j"$jobs" --target mkupdate >/dev/null
  # The driver (and, for the killed walk, update.exe) of the tested tree.
  local tree=win
  if [ "$UPD_SHIPPED_MODE" = emulated ]; then
    tree=win64
    configure win64 x86_64 Release
  fi
  cmake --build "$build/$tree" -j"$jobs" --target shipped_walks >/dev/null
  export UPD_SHIPPED_DRIVER_TREE=$build/$tree
  if [ "$UPD_SHIPPED_MODE" = emulated ]; then
    source "$root/scripts/lib/install.sh"
    upd_install_packages qemu-user
    if ! unshare --user --map-root-user --mount true 2>/dev/null; then
      echo "check-shipped: this host runs no 32-bit x86 code and makes no user namespace to emulate it in:" \
        "the shipped programs can't be run here" >&2
      exit 1
    fi
    export UPD_SHIPPED_STARTED=$started
    exec unshare --user --map-root-user --mount --pid --fork --mount-proc bash "$0" --inside-namespace
  fi
}

# Inside the namespace: the emulator for 32-bit programs, for it alone.
register_emulator() {
  if ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    ! printf '%s' "$qemu_i386_handler" >/proc/sys/fs/binfmt_misc/register; then
    echo "check-shipped: no binfmt_misc of this namespace's own to register the emulator in (a kernel from 6.7 on has one)" >&2
    exit 1
  fi
  # The emulator's guest address space. A 32-bit Wine reserves all of it
  # above 2 GiB (a program without the large-address flag, as ours, gets the
  # 2 GiB below), and the time the emulator takes to start a 32-bit process
  # grows with that reservation: about 70 s with the 4 GiB it takes by
  # default, 50 s with 3 GiB, 3 to 9 s with 2 GiB and 32 MiB (with 2 GiB
  # exactly Wine fails to start).
  export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0x82000000}
  export WINEPREFIX=$UPD_BUILD_DIR/wineprefix-shipped
  source "$root/scripts/lib/wine-env.sh"
  if upd_kernel_runs_i386; then
    echo "check-shipped: the emulator did not take 32-bit programs over" >&2
    exit 1
  fi
  if [ ! -f "$WINEPREFIX/.complete" ]; then
    echo "check-shipped: making the 64-bit prefix with its 32-bit part (once)"
    local t
    t=$(date +%s)
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1
    wineserver -w
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || {
      echo "check-shipped: the prefix has no 32-bit system DLLs" >&2
      exit 1
    }
    touch "$WINEPREFIX/.complete"
    echo "check-shipped: prefix made in $(seconds_since "$t") s"
  fi
}

failures=()
fail() {
  echo "check-shipped: FAILED: $*" >&2
  failures+=("$*")
}

# Runs a command of both mkupdates in work (the same relative paths, so that
# what they print is the same), keeping each one's output, error output and
# status; the shipped one's time goes to times.
mkupdate_both() { # name, arguments...
  local name=$1 t status=0
  shift
  cd "$work"
  "$native_mkupdate" "$@" >"native.$name.out" 2>"native.$name.err" || status=$?
  echo "$status" >"native.$name.status"
  # The native package is kept aside: UPDATE.DAT can then only be the
  # shipped one's.
  [ "$name" != build ] || mv UPDATE.DAT NATIVE.DAT
  t=$(date +%s)
  status=0
  wine "$shipped_mkupdate" "$@" >"shipped.$name.out" 2>"shipped.$name.err" || status=$?
  echo "$status" >"shipped.$name.status"
  cd - >/dev/null
  echo "mkupdate.exe $name: $(seconds_since "$t") s" >>"$work/times"
  # A Windows console program ends its lines with CR LF; what it says must
  # be the same, byte for byte, apart from that.
  local stream
  for stream in out err; do
    sed -i 's/\r$//' "$work/shipped.$name.$stream"
  done
  for stream in out err status; do
    cmp -s "$work/native.$name.$stream" "$work/shipped.$name.$stream" ||
      echo "mkupdate $name: the $stream differs: native $(od -c "$work/native.$name.$stream" | head -c 300) shipped $(od -c "$work/shipped.$name.$stream" | head -c 300)" >>"$work/differences"
  done
}

# Sample files with names that need code page 932, folders, an empty file
# and one of several MiB.
make_sample() {
  local folder=$work/sample
  mkdir -p "$folder/データ/音声" "$folder/sub/deep"
  printf 'new a' >"$folder/a.bin"
  : >"$folder/empty.txt"
  printf 'セーブ' >"$folder/データ/説明.txt"
  head -c $((3 << 20)) /dev/urandom >"$folder/データ/音声/bgm01.ogg"
  printf 'x' >"$folder/sub/deep/x.bin"
}

check_mkupdate() {
  make_sample
  mkupdate_both build build sample -o UPDATE.DAT
  cmp -s "$work/UPDATE.DAT" "$work/NATIVE.DAT" ||
    echo "mkupdate build: the packages differ" >>"$work/differences"
  # list and verify of the shipped one's package.
  mkupdate_both list list UPDATE.DAT
  mkupdate_both verify verify UPDATE.DAT
  cross_sign
}

# A key made by either mkupdate signs with the other, and what either signs
# verifies with both. A signature differs from one signing to the next: the
# signed packages are compared by verifying them, not byte for byte.
cross_sign() {
  cd "$work"
  "$native_mkupdate" keygen native-key >/dev/null
  wine "$shipped_mkupdate" keygen shipped-key >/dev/null
  "$native_mkupdate" build sample -o NATIVE-SIGNED.DAT --sign shipped-key.key >/dev/null
  wine "$shipped_mkupdate" build sample -o SHIPPED-SIGNED.DAT --sign native-key.key >/dev/null
  local pair package key
  for pair in NATIVE-SIGNED.DAT:shipped-key SHIPPED-SIGNED.DAT:native-key; do
    package=${pair%%:*} key=${pair#*:}
    "$native_mkupdate" verify "$package" --key "$key.pub" >/dev/null 2>&1 ||
      echo "mkupdate: $package does not verify with $key.pub" >>"$work/differences"
    wine "$shipped_mkupdate" verify "$package" --key "$key.pub" >/dev/null 2>&1 ||
      echo "mkupdate.exe: $package does not verify with $key.pub" >>"$work/differences"
  done
  cd - >/dev/null
}

inside() {
  register_emulator
  run_checks
}

run_checks() {
  source "$root/scripts/lib/wine-session.sh"
  upd_start_session
  work=$(mktemp -d "$UPD_BUILD_DIR/shipped-check.XXXXXX")
  trap 'upd_stop_session; rm -rf "$work"' EXIT
  : >"$work/times"
  : >"$work/differences"
  native_mkupdate=$UPD_BUILD_DIR/native/tools/mkupdate/mkupdate
  shipped_mkupdate=$UPD_BUILD_DIR/win/tools/mkupdate/mkupdate.exe
  echo "check-shipped: running build/win's update.exe and mkupdate.exe ($UPD_SHIPPED_MODE)"

  # The walks and mkupdate.exe side by side, each starting one 32-bit
  # process at a time: two emulated at once keep the two cores of a small
  # machine busy, a third would only slow the others down.
  check_mkupdate &
  local mkupdate_pid=$! walks_status=0
  UPD_SHIPPED_PROGRAM=$(windows_path "$UPD_BUILD_DIR/win/driver/update.exe") \
    wine "$UPD_SHIPPED_DRIVER_TREE/tests/e2e/shipped_walks.exe" | tr -d '\r' >"$work/walks" || walks_status=$?
  wait "$mkupdate_pid" || fail "the mkupdate comparison did not run"

  grep -a -E '^\[ +(OK|FAILED) +\] ShippedWalk' "$work/walks" || true
  cat "$work/times"
  [ "$walks_status" = 0 ] || {
    cat "$work/walks"
    fail "update.exe: a walk failed"
  }
  if [ -s "$work/differences" ]; then
    cat "$work/differences"
    fail "mkupdate.exe: differs from the native mkupdate"
  fi
  echo "check-shipped: whole check $(seconds_since "${UPD_SHIPPED_STARTED:-$started}") s"
  if [ ${#failures[@]} -gt 0 ]; then
    exit 1
  fi
  echo "check-shipped: the shipped programs passed"
}

if [ "${1:-}" = --inside-namespace ]; then
  inside
else
  prepare "${1:-}"
  run_checks
fi
