# Sourced by bench.sh: the whole program against its baselines, side by side
# and alternating in one run. Packages: A, one 1 GiB file; B, 2 000 files of
# 4-64 KiB in 20 folders and three of 128 MiB; C, 5 000 files of 4-64 KiB in
# one folder. For each, in turn: update.exe into a fresh data directory (from
# the click on its start button to its final message), the plain Win32
# copier of bench/plain_copier.cpp under the same Wine, the same copier with
# a live progress window pumped after every chunk, and cp -r of the same
# files timed once without and once with the sync that follows it. On A also
# update.exe on the package stripped of its data check block, for the cost of
# the check; on A and B update.exe carrying a publisher's key on the
# package signed with it, for the cost of the signature, and on A the time
# libcrypto (openssl speed) takes to hash 1 GiB, measured in the same
# rounds. A warm-up round, then UPD_BENCH_ROUNDS rounds (default 5); every
# round's times are printed, then the best of each and the ratios, and the
# peak working set of update.exe. A fifth baseline makes the copier's copy
# durable (--window --flush: every file, then every folder flushed), what a
# careful one-thread program pays for a copy a power cut can't undo.
# UPD_BENCH_BEFORE="path/to/update.exe ..." also measures those builds beside
# the current one (before1, before2, ...: a before/after in one run);
# UPD_BENCH_BEFORE_MKUPDATE="path/to/mkupdate ..." (native, in the same
# order, "-" for none) builds their packages, for a build that can't read
# the current package builder's data check.
# UPD_BENCH_PACKAGES picks the packages (default "A B C"); R is B's package
# over a data directory that holds every file of B already, so that every
# file is replaced (update.exe and the build before only).
# Needs the build and its bench target (bench.sh makes both).
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"

# A subshell of its own: its Wine session and its data go when it ends.
upd_bench_run() (
  set -euo pipefail
  shopt -s inherit_errexit
  rounds=${UPD_BENCH_ROUNDS:-5}
  read -r -a befores <<<"${UPD_BENCH_BEFORE:-}"
  read -r -a before_mkupdates <<<"${UPD_BENCH_BEFORE_MKUPDATE:-}"
  data=$UPD_BUILD_DIR/bench-run
  mkupdate=$UPD_BUILD_DIR/native/tools/mkupdate/mkupdate
  bench_dir=$UPD_WIN_TREE/bench
  helper=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../bench" && pwd)/bench_run_data.py
  cleanup() {
    rm -rf "$data"
    upd_stop_session
  }
  upd_start_session
  trap cleanup EXIT

  # Sources, four packages and one copy at a time: about 5.5 GiB at the peak.
  need_kib=$((7 * 1024 * 1024))
  rm -rf "$data" && mkdir -p "$data"
  free_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
  if [ "$free_kib" -lt "$need_kib" ]; then
    echo "bench-run: needs $((need_kib / 1024)) MiB free under $data, has $((free_kib / 1024)) MiB" >&2
    exit 1
  fi
  for before in "${befores[@]}"; do
    [ -f "$before" ] || { echo "bench-run: UPD_BENCH_BEFORE names $before, no file" >&2; exit 1; }
  done

  echo "bench-run: making the data"
  python3 "$helper" make "$data/src"
  packages=${UPD_BENCH_PACKAGES:-A B C}
  for pkg in A B C; do
    mkdir -p "$data/pkg/$pkg"
    "$mkupdate" build "$data/src/$pkg" -o "$data/pkg/$pkg/UPDATE.DAT" >/dev/null
  done
  if [[ " $packages " == *" R "* ]]; then
    mkdir -p "$data/pkg/R"
    ln "$data/pkg/B/UPDATE.DAT" "$data/pkg/R/UPDATE.DAT"
  fi
  # Signed: the package signed, update.exe branded with its key.
  "$mkupdate" keygen "$data/bench-key" >/dev/null
  for pkg in A B; do
    mkdir -p "$data/pkg/$pkg-signed"
    "$mkupdate" build "$data/src/$pkg" -o "$data/pkg/$pkg-signed/UPDATE.DAT" --sign "$data/bench-key.key" >/dev/null
  done
  mkdir -p "$data/pkg/A-nocheck"
  python3 "$helper" strip "$data/pkg/A/UPDATE.DAT" "$data/pkg/A-nocheck/UPDATE.DAT"
  "$mkupdate" list "$data/pkg/A-nocheck/UPDATE.DAT" | grep -qx 'data check: none' ||
    { echo "bench-run: the stripped package still has its data check" >&2; exit 1; }
  for folder in "$data"/pkg/*; do
    if [[ $folder == *-signed ]]; then
      "$mkupdate" brand "$UPD_WIN_TREE/driver/update.exe" "$data/bench-key.pub" -o "$folder/update.exe" >/dev/null
      continue
    fi
    cp "$UPD_WIN_TREE/driver/update.exe" "$folder/"
    for i in "${!befores[@]}"; do
      mkdir "$folder/before$((i + 1))"
      cp "${befores[i]}" "$folder/before$((i + 1))/update.exe"
      # A build that predates the current data check block reads only the
      # packages of its own package builder.
      pkg=$(basename "$folder")
      pkg=${pkg/#R/B}
      before_mkupdate=${before_mkupdates[i]:--}
      if [ "$before_mkupdate" != - ] && [ -d "$data/src/$pkg" ]; then
        "$before_mkupdate" build "$data/src/$pkg" -o "$folder/before$((i + 1))/UPDATE.DAT" >/dev/null
      else
        ln "$folder/UPDATE.DAT" "$folder/before$((i + 1))/UPDATE.DAT"
      fi
    done
  done
  for i in "${!befores[@]}"; do echo "bench-run: before$((i + 1)) is ${befores[i]}"; done
  game_win=$(winepath -w "$data/game")
  wine reg add 'HKCU\Software\TALVERA\lumerant_qen' /v DataDir /d "$game_win" /f >/dev/null 2>&1
  results=$data/results.txt
  : >"$results"

  now() { date +%s.%N; }
  # Every measure starts on an empty target with nothing left to write back.
  # R's data directory holds every file of B already.
  fresh_game() { # [package]
    rm -rf "$data/game" "$data/copy" "$data/cp"
    mkdir -p "$data/game"
    [ "${1:-}" != R ] || cp -r "$data/src/B/." "$data/game/"
    printf '\0' >"$data/game/uinst.dat"
    sync
  }
  # Prints "seconds peak_kib" of update.exe in the program folder.
  measure_update() { # program folder, package
    local line
    fresh_game "$2"
    line=$(wine "$bench_dir/bench_run.exe" "$(winepath -w "$1")" | tr -d '\r')
    echo "$line" | awk '/^run/ { print $2, $5; found = 1 } END { if (!found) exit 1 }' ||
      { echo "bench-run: update.exe did not finish: $line" >&2; exit 1; }
  }
  measure_copier() { # package folder, [--window [--flush]]
    local line package=$1
    shift
    fresh_game
    mkdir "$data/copy"
    line=$(wine "$bench_dir/plain_copier.exe" "$(winepath -w "$package")" "$(winepath -w "$data/copy")" "$@" |
      tr -d '\r')
    echo "$line" | awk '/^copy/ { print $2, $7; found = 1 } END { if (!found) exit 1 }' ||
      { echo "bench-run: the copier failed: $line" >&2; exit 1; }
  }
  # Prints "cp_seconds cp_then_sync_seconds".
  measure_cp() {
    local t0 t1 t2
    fresh_game
    t0=$(now)
    cp -r "$1" "$data/cp"
    t1=$(now)
    sync
    t2=$(now)
    echo "$t1 $t0 $t2" | awk '{ printf "%.3f %.3f\n", $1 - $2, $3 - $2 }'
  }
  # The warm-up round also checks that every copy holds the package's files.
  check_copy() { # source folder, copy
    diff -rq -x uinst.dat "$1" "$2" >/dev/null || { echo "bench-run: $2 differs from $1" >&2; exit 1; }
  }
  record() { echo "$*" >>"$results"; }

  # One measure of one contender on one package; records it and prints its
  # part of the round's line.
  measure_one() { # package, round, contender
    local pkg=$1 round=$2 out
    case $3 in
    update)
      out=$(measure_update "$data/pkg/$pkg" "$pkg")
      [ "$round" != 0 ] || check_copy "$data/src/${pkg/R/B}" "$data/game"
      record "$pkg $round update $out"
      echo "update.exe ${out% *} s"
      ;;
    before*)
      out=$(measure_update "$data/pkg/$pkg/$3" "$pkg")
      record "$pkg $round $3 $out"
      echo "$3 ${out% *} s"
      ;;
    nocheck)
      out=$(measure_update "$data/pkg/A-nocheck" A)
      record "A $round nocheck $out"
      echo "update.exe without data check ${out% *} s"
      ;;
    signed)
      out=$(measure_update "$data/pkg/$pkg-signed" "$pkg")
      [ "$round" != 0 ] || check_copy "$data/src/$pkg" "$data/game"
      record "$pkg $round signed $out"
      echo "update.exe signed ${out% *} s"
      ;;
    openssl)
      # Bytes a second for 1 MiB inputs, in thousands: the seconds for 1 GiB.
      out=$(openssl speed -evp sha256 -bytes 1048576 -seconds 2 2>/dev/null |
        awk '$1 == "sha256" { sub(/k$/, "", $2); printf "%.3f", 1073741824 / ($2 * 1000) }')
      record "$pkg $round openssl $out 0"
      echo "openssl sha256 of 1 GiB $out s"
      ;;
    copier)
      out=$(measure_copier "$data/pkg/$pkg")
      [ "$round" != 0 ] || check_copy "$data/src/$pkg" "$data/copy"
      record "$pkg $round copier $out"
      echo "copier ${out% *} s"
      ;;
    window)
      out=$(measure_copier "$data/pkg/$pkg" --window)
      [ "$round" != 0 ] || check_copy "$data/src/$pkg" "$data/copy"
      record "$pkg $round window $out"
      echo "copier with window ${out% *} s"
      ;;
    durable)
      out=$(measure_copier "$data/pkg/$pkg" --window --flush)
      [ "$round" != 0 ] || check_copy "$data/src/$pkg" "$data/copy"
      record "$pkg $round durable $out"
      echo "durable copier with window ${out% *} s"
      ;;
    cp)
      out=$(measure_cp "$data/src/$pkg")
      record "$pkg $round cp ${out% *} 0"
      record "$pkg $round cp+sync ${out#* } 0"
      echo "cp ${out% *} s, cp+sync ${out#* } s"
      ;;
    esac
  }

  # The order turns by one each round, so that no contender always follows
  # the same one: the disk's state after a large delete favours some slots.
  for round in $(seq 0 "$rounds"); do
    for pkg in $packages; do
      contenders="update copier window durable cp"
      [ "$pkg" != R ] || contenders="update"
      for i in "${!befores[@]}"; do contenders="$contenders before$((i + 1))"; done
      [ "$pkg" != A ] || contenders="$contenders nocheck openssl"
      [ "$pkg" != A ] && [ "$pkg" != B ] || contenders="$contenders signed"
      read -r -a list <<<"$contenders"
      turn=$((round % ${#list[@]}))
      order="${list[*]:turn} ${list[*]:0:turn}"
      parts=""
      for contender in $order; do
        part=$(measure_one "$pkg" "$round" "$contender")
        parts="${parts:+$parts, }$part"
      done
      if [ "$round" = 0 ]; then label="warm-up"; else label="round $round"; fi
      echo "  $pkg $label: $parts"
    done
  done
  fresh_game
  python3 "$helper" summary "$results" "$data/src"
)
