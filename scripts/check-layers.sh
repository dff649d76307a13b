#!/usr/bin/env bash
# Checks that the product folders use each other only one way: a file may
# include the headers of its own folder and of the folders below it, never of
# one above or beside it (a pass that moves a bar does it through the
# progress interface in common/, not by including ui/):
#   common/   nothing of ours          journal/  common/
#   ui/       common/                  archive/  journal/ common/
#   tools/    portable code of archive/ journal/ ui/ common/
#   driver/   ui/ archive/ journal/ common/
# Also checks that a portable file (one whose name does not end in _win32)
# includes no Windows header and no _win32 file: the name tells where a file
# builds. Reads the #include lines of the .h, .cpp, .c and .rc files under those
# folders (tests/, bench/ and demo/ are not checked) that name a path with a
# folder in it, resolved as the compiler does (beside the including file
# first, then from the top of the tree). Lists each include that breaks the
# rule as file:line: include, prints how often each top-level folder includes
# each other one, and exits 1 when anything broke the rule.
# Usage: scripts/check-layers.sh [TREE]   (TREE: this checkout by default)
set -euo pipefail
tree=$(cd "${1:-$(dirname "$0")/..}" && pwd)

layers=(common journal ui archive tools driver) # lowest first
declare -A may_use=(
  [common]=""
  [journal]="common"
  [ui]="common"
  [archive]="journal common"
  [tools]="archive journal ui common"
  [driver]="ui archive journal common"
)

allowed() { # from folder, to folder
  [ "$1" = "$2" ] && return 0
  case " ${may_use[$1]} " in *" $2 "*) return 0 ;; esac
  return 1
}

# The path an include names, relative to the tree, or nothing when it does
# not lie in the tree.
resolve() { # including file (relative to the tree), include path, quoted?
  local dir path
  dir=$(dirname "$1")
  if [ "$3" = 1 ] && [ -e "$tree/$dir/$2" ]; then
    path=$dir/$2
  elif [ "$3" = 1 ] && [[ $2 == ./* || $2 == ../* ]]; then
    path=$dir/$2
  else
    path=$2
  fi
  case "/$path/" in
    */./* | */../*) path=$(realpath -m --relative-to="$tree" "$tree/$path") ;;
  esac
  case "$path" in ../* | /*) return 0 ;; esac
  echo "$path"
}

declare -A count=()
columns=("${layers[@]}")
violations=()
include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'

for from in "${layers[@]}"; do
  [ -d "$tree/$from" ] || continue
  while IFS= read -r file; do
    rel=${file#"$tree"/}
    while IFS= read -r hit; do
      number=${hit%%:*}
      line=${hit#*:}
      line=${line%$'\r'}
      [[ $line =~ $include_re ]] || continue
      quoted=0
      [ "${BASH_REMATCH[1]}" = '"' ] && quoted=1
      name=${BASH_REMATCH[2]}
      # A portable file (its name does not end in _win32) includes neither
      # the system's Windows headers nor a _win32 file of ours.
      # (tools/ is portable with a Windows branch of its own under _WIN32; a
      # resource script is Windows by nature.)
      if [[ $rel != *_win32.* && $rel != driver/* && $rel != tools/* && $rel != *.rc &&
        ($name == windows.h || $name == *_win32.h) ]]; then
        violations+=("$rel:$number: ${line#"${line%%[![:space:]]*}"} (a portable file)")
      fi
      [[ $name == */* ]] || continue # beside the file: its own folder
      target=$(resolve "$rel" "$name" "$quoted")
      to=${target%%/*}
      # Only folders of this tree count (<sys/stat.h> names none of ours).
      [ -n "$target" ] && [ "$to" != "$target" ] && [ -d "$tree/$to" ] || continue
      case " ${columns[*]} " in *" $to "*) ;; *) columns+=("$to") ;; esac
      count[$from,$to]=$((${count[$from,$to]:-0} + 1))
      allowed "$from" "$to" || violations+=("$rel:$number: ${line#"${line%%[![:space:]]*}"}")
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
  done < <(find "$tree/$from" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) | LC_ALL=C sort)
done

if [ ${#violations[@]} -gt 0 ]; then
  echo "Includes that break the layers:"
  printf '%s\n' "${violations[@]}"
  echo
fi

echo "Include lines between top-level folders (each row includes the columns; ! = not allowed):"
width=8
for to in "${columns[@]}"; do [ ${#to} -lt $width ] || width=$((${#to} + 1)); done
printf '%-*s' "$width" ""
for to in "${columns[@]}"; do printf ' %*s' "$width" "$to"; done
echo
for from in "${layers[@]}"; do
  printf '%-*s' "$width" "$from"
  for to in "${columns[@]}"; do
    n=${count[$from,$to]:-0}
    cell=$n
    [ "$n" = 0 ] || allowed "$from" "$to" || cell="$n!"
    printf ' %*s' "$width" "$cell"
  done
  echo
done

if [ ${#violations[@]} -gt 0 ]; then
  echo
  echo "check-layers: ${#violations[@]} include(s) break the layers"
  exit 1
fi
echo
echo "check-layers: every include follows the layers"
