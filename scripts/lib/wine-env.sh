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

# A 32-bit x86 program of 109 bytes that reads one byte from its input and
# exits: read(0, esp, 1); exit(0).
upd_i386_probe_bytes() {
  # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
  # One loadable segment: the whole file at 0x08048000, readable, executable.
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x6d\x00\x00\x00\x6d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  printf '\xb8\x03\x00\x00\x00\x31\xdb\x89\xe1\xba\x01\x00\x00\x00\xcd\x80'
  printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
}

# Whether the kernel itself executes 32-bit x86 programs. The probe is
# started waiting on a pipe and the kernel's own record of what that process
# runs (/proc/PID/exe, which no emulator can fake) is read: the probe itself
# when it runs natively, the emulator when a binfmt handler took it over
# (wherever that handler was registered: this namespace, one above it, or a
# binfmt_misc this mount namespace does not show), nothing when the kernel
# refused it.
upd_kernel_runs_i386() {
  local probe shell exe="" pid hold i
  probe=$(mktemp "${TMPDIR:-/tmp}/upd-i386-probe.XXXXXX") || return 1
  upd_i386_probe_bytes >"$probe" && chmod 700 "$probe"
  shell=$(readlink "/proc/$$/exe")
  exec {hold}> >(exec "$probe" 2>/dev/null)
  pid=$!
  for ((i = 0; i < 500; i++)); do # until the forked shell has made its exec
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || exe=""
    [ "$exe" = "$shell" ] || break
    sleep 0.01
  done
  exec {hold}>&-
  wait "$pid" 2>/dev/null || true
  local probe_path
  probe_path=$(readlink -f "$probe")
  rm -f "$probe"
  [ -n "$exe" ] && [ "$exe" = "$probe_path" ]
}

upd_host_runs_i386() {
  upd_kernel_runs_i386 && [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
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
