#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12.
# Safe to run again: each step checks first and does nothing when already done.
set -euo pipefail

need_pkgs=(cmake g++ make libgtest-dev googletest g++-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 wine64 xvfb xdotool x11-utils fonts-ipafont-gothic fonts-wine imagemagick
  clang-format locales bc)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  missing=(force-update)
fi
for p in "${need_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing packages: ${missing[*]}"
  # A mirror caught mid-sync fails one index or two; the lists it did fetch
  # still serve the install, which fails on its own if a package is missing.
  as_root apt-get update -qq || echo "bootstrap: apt-get update reported errors; installing from the lists it has"
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >/dev/null
fi

# Wine must see code page 932 as the ANSI code page: it takes it from a Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "bootstrap: generating the ja_JP.UTF-8 locale"
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
