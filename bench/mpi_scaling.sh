#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Throughput of bandstat-mpi over 1 and 2 ranks of one thread each, on a data set of 200
# loci in 5 populations of 20 individuals (-n 500 -ar 0.02 by default). The seed is fixed,
# so every rank count simulates exactly the same replicates (pilot size plus production
# replicates, from the run record); the job's wall seconds come from the run record too, so
# that the start of the MPI processes is left out. Best of REPEATS runs per rank count.
# The load average is printed first: other work on the machine takes cores from the ranks.
#
# Usage: bench/mpi_scaling.sh [path/to/bandstat-mpi] ; env REPEATS (3), N (500), AR (0.02),
# RANKS ("1 2"), THREADS (1).
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$here/build/bandstat-mpi}")
repeats=${REPEATS:-3}
n=${N:-500}
ar=${AR:-0.02}
threads=${THREADS:-1}
[ -x "$exe" ] || { echo "no executable at $exe (build with BANDSTAT_MPI)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
example="$work/shape_200x5x20.txt"
bash "$here/bench/write_shape.sh" "$example"

echo "uptime: $(uptime)"
echo "nproc: $(nproc); -n $n -ar $ar; $threads thread(s) per rank; best of $repeats"
base=""
for ranks in ${RANKS:-1 2}; do
  best=""
  for ((i = 0; i < repeats; i++)); do
    dir="$work/run_${ranks}_$i"
    mkdir "$dir"
    (cd "$dir" && mpirun --allow-run-as-root --oversubscribe -np "$ranks" "$exe" -n "$n" \
      -ar "$ar" -seed 1 -nprocs "$threads" "$example" >/dev/null 2>&1) ||
      { echo "run failed ($ranks ranks)" >&2; exit 1; }
    record="$dir/shape_200x5x20_run.txt"
    reps=$(awk -F': ' '/^pilot size:/ {s += $2} /^production replicates:/ {s += $2} END {print s}' "$record")
    wall=$(awk -F': ' '/^wall seconds:/ {print $2}' "$record")
    rate=$(echo "$reps / $wall" | bc -l)
    if [ -z "$best" ] || (($(echo "$rate > $best" | bc -l))); then best=$rate; fi
  done
  [ -z "$base" ] && base=$best
  printf "%d rank(s): %d replicates, best %.0f replicates/s, %.2f x 1 rank\n" "$ranks" "$reps" \
    "$best" "$(echo "$best / $base" | bc -l)"
done
