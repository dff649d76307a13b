# Sourced by the entry points that install Debian packages (bootstrap.sh,
# fuzz.sh): the one way this project gets root and installs packages.

# Runs a command as root: directly when already root, through sudo otherwise.
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

upd_package_installed() { # package
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs those of the given packages that are not installed yet; does
# nothing (and asks nothing of the network) when all of them are.
upd_install_packages() { # package...
  local missing=() p who
  who=$(basename "$0" .sh)
  for p in "$@"; do
    upd_package_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "$who: installing packages: ${missing[*]}"
  # A mirror caught mid-sync fails one index or two (apt-get update exits
  # 100); the lists it did fetch still serve the install, which fails on its
  # own if a package cannot be had.
  as_root apt-get update -qq || echo "$who: apt-get update reported errors; installing from the lists it has"
  local install=(apt-get install -y -qq --no-install-recommends)
  DEBIAN_FRONTEND=noninteractive as_root "${install[@]}" "${missing[@]}" >/dev/null && return 0
  # When the failed index was one architecture's security list, the two
  # architectures see different versions of the same library and i386
  # packages can't be matched. The release's own lists are complete for both.
  echo "$who: retrying from the release's own lists"
  DEBIAN_FRONTEND=noninteractive as_root "${install[@]}" -t bookworm "${missing[@]}" >/dev/null
}
