#!/usr/bin/env python3
# The data and the figures of the whole-run benchmark (scripts/lib/bench-run.sh):
#   make SRC            writes the source folders A, B and C under SRC
#   strip IN OUT        writes IN without its data check block (the directory
#                       followed directly by the trailer, as before the block)
#   summary RESULTS SRC prints the best of each measure, the ratios, the cost
#                       of the data check and the peak memory
import os
import random
import statistics
import struct
import sys

MIB = 1 << 20


def write_pattern(path, pool, size, start):
    with open(path, "wb") as out:
        out.write(pool[start:start + size])


def write_large(path, size):
    block = os.urandom(MIB)
    with open(path, "wb") as out:
        for _ in range(size // MIB):
            out.write(block)
            # Blocks differ, so that no two MiB of a file are the same.
            block = block[1:] + block[:1]


def write_small_files(rng, pool, count, folder_of):
    for i in range(count):
        folder = folder_of(i)
        os.makedirs(folder, exist_ok=True)
        write_pattern(os.path.join(folder, "f%04d.bin" % i), pool, rng.randint(4 * 1024, 64 * 1024),
                      rng.randint(0, 4096))


def make(src):
    rng = random.Random(2000)
    pool = os.urandom(64 * 1024 + 4096)
    os.makedirs(os.path.join(src, "A"))
    write_large(os.path.join(src, "A", "big.bin"), 1024 * MIB)
    b = os.path.join(src, "B")
    write_small_files(rng, pool, 2000, lambda i: os.path.join(b, "small%02d" % (i // 100)))
    for i in range(3):
        write_large(os.path.join(b, "large%d.bin" % i), 128 * MIB)
    c = os.path.join(src, "C")
    write_small_files(rng, pool, 5000, lambda i: c)


def strip(source, dest):
    size = os.path.getsize(source)
    with open(source, "rb") as package:
        package.seek(size - 12)
        trailer = package.read(12)
        high, low, count = struct.unpack("<III", trailer)
        package.seek((high << 32) | low)
        for _ in range(count):
            (name_length,) = struct.unpack("<B", package.read(1))
            package.seek(name_length + 12, os.SEEK_CUR)
        directory_end = package.tell()
        package.seek(0)
        with open(dest, "wb") as out:
            left = directory_end
            while left:
                chunk = package.read(min(left, 16 * MIB))
                out.write(chunk)
                left -= len(chunk)
            out.write(trailer)


def read_results(path):
    # (package, contender) -> [(round, seconds, peak KiB)]
    results = {}
    with open(path) as lines:
        for line in lines:
            package, round_number, contender, seconds, peak = line.split()
            results.setdefault((package, contender), []).append((int(round_number), float(seconds), int(peak)))
    return results


def measured(results, package, contender):
    return [seconds for round_number, seconds, _ in results.get((package, contender), []) if round_number > 0]


def folder_figures(folder):
    files = 0
    total = 0
    for parent, _, names in os.walk(folder):
        for name in names:
            files += 1
            total += os.path.getsize(os.path.join(parent, name))
    return files, total / MIB


def summary(path, src):
    results = read_results(path)
    # Against the copier with a live window, the limit of a one-thread program.
    goals = {"A": 1.10, "B": None, "C": None}
    befores = sorted({c for _, c in results if c.startswith("before")})
    contenders = ["update", "signed"] + befores + ["copier", "window", "durable", "cp", "cp+sync"]
    labels = {"update": "update.exe", "signed": "update.exe signed", "copier": "copier", "window": "copier with window",
              "durable": "durable copier with window", "cp": "cp", "cp+sync": "cp+sync"}
    labels.update({c: c for c in befores})
    rounds = max(len(measured(results, p, "update")) for p in ["A", "B", "C", "R"])
    print("best of %d rounds after a warm-up (every round above)" % rounds)
    for package in [p for p in ["A", "B", "C", "R"] if measured(results, p, "update")]:
        # R: B's package over a data directory that holds every file of B.
        files, mib = folder_figures(os.path.join(src, "B" if package == "R" else package))
        best = {c: min(measured(results, package, c)) for c in contenders if measured(results, package, c)}
        figures = ", ".join("%s %.3f s" % (labels[c], best[c]) for c in contenders if c in best)
        print("%s (%d files, %.0f MiB): %s" % (package, files, mib, figures))
        run = best["update"]
        for before in [c for c in befores if c in best]:
            print("  update.exe/%s %.2f" % (before, run / best[before]))
        if package == "R":
            continue
        goal = goals[package]
        goal_text = " (goal <= %.2f)" % goal if goal else ""
        print("  update.exe/(copier with window) %.2f%s, update.exe/(durable copier with window) %.2f,"
              " update.exe/copier %.2f, update.exe/(cp+sync) %.2f, update.exe/cp %.2f" %
              (run / best["window"], goal_text, run / best["durable"], run / best["copier"], run / best["cp+sync"],
               run / best["cp"]))
        if package == "A":
            print("  speed against cp+sync %.2fx (goal >= 0.85x)" % (best["cp+sync"] / run))
    with_check = measured(results, "A", "update")
    without = measured(results, "A", "nocheck")
    if with_check and without:
        paired = [100.0 * (a - b) / a for a, b in zip(with_check, without)]
        print("data check on A: %.3f s with, %.3f s without: %.1f %% of the run (best of each; median of the rounds'"
              " differences %.1f %%; goal < 5 %%)" % (min(with_check), min(without),
                                                      100.0 * (min(with_check) - min(without)) / min(with_check),
                                                      statistics.median(paired)))
    openssl = measured(results, "A", "openssl")
    for package in ["A", "B"]:
        unsigned, signed = measured(results, package, "update"), measured(results, package, "signed")
        if not (unsigned and signed):
            continue
        added = min(signed) - min(unsigned)
        paired = statistics.median([s - u for s, u in zip(signed, unsigned)])
        line = "signature on %s: %.3f s signed, %.3f s unsigned: adds %.3f s (best of each; median of the rounds'" \
               " differences %.3f s)" % (package, min(signed), min(unsigned), added, paired)
        if openssl:
            line += "; openssl hashes 1 GiB in %.3f s beside it: %.2fx that%s" % (
                min(openssl), added / min(openssl), " (goal <= 1.15x)" if package == "A" else "")
        print(line)
    for contender in ["update", "signed"] + befores + ["copier", "window", "durable"]:
        peaks = [(package, peak) for (package, c), rows in results.items() if c == contender for _, _, peak in rows]
        if not peaks:
            continue
        by_package = ", ".join("%s %.1f" % (p, max(k for q, k in peaks if q == p) / 1024.0)
                               for p in sorted({p for p, _ in peaks}))
        print("peak working set, %s: %.1f MiB at most (%s MiB)%s" %
              (labels[contender], max(k for _, k in peaks) / 1024.0, by_package,
               " (goal < 32 MiB)" if contender in ("update", "signed") else ""))


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "make" and len(sys.argv) == 3:
        make(sys.argv[2])
    elif command == "strip" and len(sys.argv) == 4:
        strip(sys.argv[2], sys.argv[3])
    elif command == "summary" and len(sys.argv) == 4:
        summary(sys.argv[2], sys.argv[3])
    else:
        sys.exit("usage: bench_run_data.py make SRC | strip IN OUT | summary RESULTS SRC")


if __name__ == "__main__":
    main()
