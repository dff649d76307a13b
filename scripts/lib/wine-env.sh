# Sourced: the environment every Wine command of this project runs in.
# A private prefix inside the build tree, code page 932 as the ANSI code page
# (Japanese locale), no debug chatter, no Mono/Gecko prompts.
#
# The shipped update.exe is 32-bit. Its Windows tests, the demo and the
# benchmarks run it under a 32-bit Wine where the host executes 32-bit x86
# code itself; a host that can't (its kernel refuses such programs, or hands
# them to an emulator that makes Wine crawl) builds them for 64-bit Windows
# and runs them under the 64-bit Wine instead. UPD_WIN_ARCH (i686 or x86_64)
# says which; UPD_WIN_TREE is the build tree they run from.
upd_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export UPD_BUILD_DIR=${UPD_BUILD_DIR:-$upd_root/build}

upd_host_runs_i386() {
  # An emulator registered for 32-bit programs would take them over.
  if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    return 1
  fi
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

if [ -z "${UPD_WIN_ARCH:-}" ]; then
  if upd_host_runs_i386; then UPD_WIN_ARCH=i686; else UPD_WIN_ARCH=x86_64; fi
fi
export UPD_WIN_ARCH
if [ "$UPD_WIN_ARCH" = x86_64 ]; then
  export WINEARCH=win64
  export WINEPREFIX=${WINEPREFIX:-$UPD_BUILD_DIR/wineprefix64}
  export UPD_WIN_TREE=$UPD_BUILD_DIR/win64
  export UPD_WINE=/usr/lib/wine/wine64
  export UPD_WINESERVER=/usr/lib/wine/wineserver64
else
  export WINEARCH=win32
  export WINEPREFIX=${WINEPREFIX:-$UPD_BUILD_DIR/wineprefix}
  export UPD_WIN_TREE=$UPD_BUILD_DIR/win
  export UPD_WINE=/usr/lib/wine/wine
  export UPD_WINESERVER=/usr/lib/wine/wineserver32
  [ -x "$UPD_WINESERVER" ] || UPD_WINESERVER=/usr/lib/wine/wineserver64
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8

# The Wine commands, for the loader of the chosen architecture (the system's
# wrappers would start the 32-bit one). Full paths: a function named wine
# must not call itself.
wine() { "$UPD_WINE" "$@"; }
winepath() { "$UPD_WINE" winepath.exe "$@"; }
wineserver() { "$UPD_WINESERVER" "$@"; }
export -f wine winepath wineserver
