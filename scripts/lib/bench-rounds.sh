# Sourced by the benchmarks run from bench.sh: each measure is taken over a
# few rounds and the best (shortest) time is kept, the one least disturbed
# by the other work of a shared machine.

# Prints the shorter of the best time so far (empty before the first round)
# and a new one, both in seconds.
upd_best_of() { # best so far, new seconds
  if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then
    echo "$2"
  else
    echo "$1"
  fi
}
