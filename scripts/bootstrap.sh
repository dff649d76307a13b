#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12.
# Safe to run again: each step checks first and does nothing when already done.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/install.sh"

need_pkgs=(cmake g++ make libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine32:i386 wine64 xvfb xdotool x11-utils fonts-ipafont-gothic fonts-wine imagemagick
  clang-format locales bc libxxhash-dev nlohmann-json3-dev libfuse3-dev fuse3 pkg-config libssl-dev openssl)

# wine32:i386 needs the i386 architecture; adding it leaves that package
# missing, so the install below fetches the lists again.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
upd_install_packages "${need_pkgs[@]}"

# Wine must see code page 932 as the ANSI code page: it takes it from a Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "bootstrap: generating the ja_JP.UTF-8 locale"
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
