# Sourced by bench.sh: the extraction pass against cp, side by side in one
# run: (a) one 1 GiB file, (b) 5000 files of 4-64 KiB in one folder, and, to
# show what the size of a folder costs under Wine, (c) the same 5000 files
# spread over 50 folders of 100. Packages are made with mkupdate; cp -r
# copies the source folders natively, bench_extract.exe runs ExtractAll under
# Wine; each copy goes into an empty folder on the same file system. Prints
# MiB/s of both and their ratio, best of UPD_BENCH_ROUNDS rounds (default 3).
# Needs the build and its bench target (bench.sh makes both).
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
source "$(dirname "${BASH_SOURCE[0]}")/bench-rounds.sh"

# A subshell of its own: its Wine session and its data go when it ends.
upd_bench_extract() (
  set -euo pipefail
  rounds=${UPD_BENCH_ROUNDS:-3}
  data=$UPD_BUILD_DIR/bench-data
  mkupdate=$UPD_BUILD_DIR/native/tools/mkupdate/mkupdate
  bench_exe=$UPD_WIN_TREE/bench/bench_extract.exe

  cleanup() {
    rm -rf "$data"
    upd_stop_session
  }
  upd_start_session
  trap cleanup EXIT

  # Sources, packages and two copies of each set: about 4.5 GB at the peak.
  need_kib=$((5 * 1024 * 1024))
  mkdir -p "$data"
  free_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
  if [ "$free_kib" -lt "$need_kib" ]; then
    echo "bench: needs $((need_kib / 1024)) MiB free under $data, has $((free_kib / 1024)) MiB" >&2
    exit 1
  fi

  echo "bench: making the data"
  for set in big small nested; do mkdir -p "$data/$set/src" "$data/$set/pkg"; done
  head -c $((1024 * 1024 * 1024)) /dev/urandom >"$data/big/src/big.bin"
  python3 - "$data/small/src" "$data/nested/src" <<'PY'
import os, random, sys
rng = random.Random(5000)
pool = os.urandom(64 * 1024 + 4096)
for i in range(5000):
    size = rng.randint(4 * 1024, 64 * 1024)
    start = rng.randint(0, 4096)
    nested = os.path.join(sys.argv[2], "d%02d" % (i // 100))
    os.makedirs(nested, exist_ok=True)
    for path in (os.path.join(sys.argv[1], "f%04d.bin" % i), os.path.join(nested, "f%04d.bin" % i)):
        with open(path, "wb") as out:
            out.write(pool[start:start + size])
PY
  "$mkupdate" build "$data/big/src" -o "$data/big/pkg/UPDATE.DAT" >/dev/null
  "$mkupdate" build "$data/small/src" -o "$data/small/pkg/UPDATE.DAT" >/dev/null
  "$mkupdate" build "$data/nested/src" -o "$data/nested/pkg/UPDATE.DAT" >/dev/null

  now() { date +%s.%N; }

  # Best seconds of cp -r and of ExtractAll over the rounds, for one set.
  measure() {
    local set=$1 best_cp="" best_ex="" line
    local bytes
    bytes=$(du -sb "$data/$set/src" | cut -f1)
    for round in $(seq "$rounds"); do
      rm -rf "$data/$set/cp" "$data/$set/ex"
      sync
      local t0 t1
      t0=$(now)
      cp -r "$data/$set/src" "$data/$set/cp"
      t1=$(now)
      local cp_s
      cp_s=$(echo "$t1 - $t0" | bc -l)
      rm -rf "$data/$set/cp"
      mkdir "$data/$set/ex"
      sync
      line=$(wine "$bench_exe" "$(winepath -w "$data/$set/pkg")" "$(winepath -w "$data/$set/ex")" | tr -d '\r')
      local ex_s
      ex_s=$(echo "$line" | awk '{ print $5 }')
      printf '  %-5s round %d: cp %.3f s, ExtractAll %.3f s\n' "$set" "$round" "$cp_s" "$ex_s" >&2
      diff -rq "$data/$set/src" "$data/$set/ex" >/dev/null || { echo "bench: extracted files differ" >&2; exit 1; }
      best_cp=$(upd_best_of "$best_cp" "$cp_s")
      best_ex=$(upd_best_of "$best_ex" "$ex_s")
      rm -rf "$data/$set/ex"
    done
    local mib cp_rate ex_rate
    mib=$(echo "$bytes / 1048576" | bc -l)
    cp_rate=$(echo "$mib / $best_cp" | bc -l)
    ex_rate=$(echo "$mib / $best_ex" | bc -l)
    printf '%-5s cp %8.1f MiB/s   ExtractAll %8.1f MiB/s   ExtractAll/cp %.2f (time +%.0f %%, aim %s)\n' \
      "$set" "$cp_rate" "$ex_rate" "$(echo "$ex_rate / $cp_rate" | bc -l)" \
      "$(echo "($best_ex / $best_cp - 1) * 100" | bc -l)" "$2"
  }

  echo "bench: $rounds rounds, best of each"
  big=$(measure big "10 %")
  small=$(measure small "25 %")
  nested=$(measure nested "-")
  echo "$big"
  echo "$small"
  echo "$nested"
)
