# Sourced: the environment every Wine command of this project runs in.
# A private 32-bit prefix inside the build tree, code page 932 as the ANSI
# code page (Japanese locale), no debug chatter, no Mono/Gecko prompts.
upd_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export UPD_BUILD_DIR=${UPD_BUILD_DIR:-$upd_root/build}
export WINEPREFIX=${WINEPREFIX:-$UPD_BUILD_DIR/wineprefix}
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8
