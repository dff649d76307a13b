# Sourced by bench.sh: the whole program against cp, side by side in one
# run: update.exe applies a 1 GiB package (four large files and 2 000 small
# ones in 20 folders) to a sample game, from the click on its start button to
# its final message; cp -r copies the same files into an empty folder on the
# same file system. Best of UPD_BENCH_ROUNDS rounds (default 3). Needs the
# build and its bench target (bench.sh makes both).
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
source "$(dirname "${BASH_SOURCE[0]}")/bench-rounds.sh"

# A subshell of its own: its Wine session and its data go when it ends.
upd_bench_run() (
  set -euo pipefail
  rounds=${UPD_BENCH_ROUNDS:-3}
  data=$UPD_BUILD_DIR/bench-run
  mkupdate=$UPD_BUILD_DIR/native/tools/mkupdate/mkupdate
  cleanup() {
    rm -rf "$data"
    upd_stop_session
  }
  upd_start_session
  trap cleanup EXIT

  free_kib=$(df -Pk "$UPD_BUILD_DIR" | awk 'NR == 2 { print $4 }')
  if [ "$free_kib" -lt $((4 * 1024 * 1024)) ]; then
    echo "bench-run: needs 4 GiB free under $UPD_BUILD_DIR" >&2
    exit 1
  fi
  rm -rf "$data" && mkdir -p "$data/src" "$data/dist"
  python3 - "$data/src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2000)
block = os.urandom(1 << 20)
small_total = 0
for i in range(2000):
    folder = os.path.join(root, "small%02d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(4 * 1024, 96 * 1024)
    small_total += size
    with open(os.path.join(folder, "f%04d.bin" % i), "wb") as out:
        out.write(block[:size])
large = ((1 << 30) - small_total) // 4
for i in range(4):
    with open(os.path.join(root, "large%d.bin" % i), "wb") as out:
        left = large
        while left:
            n = min(left, len(block))
            out.write(block[:n])
            left -= n
PY
  "$mkupdate" build "$data/src" -o "$data/dist/UPDATE.DAT" >/dev/null
  cp "$UPD_WIN_TREE/driver/update.exe" "$data/dist/"
  bytes=$(du -sb "$data/src" | cut -f1)
  game_win=$(winepath -w "$data/game")
  wine reg add 'HKCU\Software\TALVERA\lumerant_qen' /v DataDir /d "$game_win" /f >/dev/null 2>&1

  best_cp="" best_cps="" best_run=""
  for round in $(seq "$rounds"); do
    rm -rf "$data/game" "$data/cp"
    mkdir -p "$data/game"
    printf '\0' >"$data/game/uinst.dat"
    sync
    t0=$(date +%s.%N)
    cp -r "$data/src" "$data/cp"
    t1=$(date +%s.%N)
    sync
    t2=$(date +%s.%N)
    cp_s=$(echo "$t1 - $t0" | bc -l)
    # update.exe makes its uninstall list durable before it deletes backups;
    # on ext4 that flush writes out the copied data too, which cp alone
    # leaves to the kernel: cp followed by sync is the fair yardstick for it.
    cps_s=$(echo "$t2 - $t0" | bc -l)
    rm -rf "$data/cp"
    sync
    run_s=$(wine "$UPD_WIN_TREE/bench/bench_run.exe" "$(winepath -w "$data/dist")" | tr -d '\r' | awk '/^run/ { print $2 }')
    [ -n "$run_s" ] || { echo "bench-run: the run did not finish" >&2; exit 1; }
    printf '  round %d: cp %.2f s, cp+sync %.2f s, update.exe %.2f s\n' "$round" "$cp_s" "$cps_s" "$run_s"
    best_cp=$(upd_best_of "$best_cp" "$cp_s")
    best_cps=$(upd_best_of "$best_cps" "$cps_s")
    best_run=$(upd_best_of "$best_run" "$run_s")
  done
  mib=$(echo "$bytes / 1048576" | bc -l)
  printf 'whole run, %.0f MiB: cp %.2f s (%.0f MiB/s), update.exe %.2f s (%.0f MiB/s), update.exe/cp time %.2f\n' \
    "$mib" "$best_cp" "$(echo "$mib / $best_cp" | bc -l)" "$best_run" "$(echo "$mib / $best_run" | bc -l)" \
    "$(echo "$best_run / $best_cp" | bc -l)"
  printf 'against cp+sync %.2f s: update.exe/cp+sync time %.2f\n' "$best_cps" "$(echo "$best_run / $best_cps" | bc -l)"
)
