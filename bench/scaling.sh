#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Throughput of the simulation workers on 1 and 2 threads, on a data set of 200 loci in 5
# populations of 20 individuals (the 200 x 5 x 20 shape of the replicate benchmark), or on
# the file given as DATA.
#
# The pilot run is the part of a job with a known amount of work: exactly its pilot size of
# replicates (the production run stops at a random count once every population has its
# accepted draws). Its wall time is the span between the "Pilot run" line and the time
# estimate that follows it; the job is then cut short. Best of REPEATS runs per thread count.
#
# Usage: bench/scaling.sh [path/to/bandstat] ; env REPEATS (3), N (2000), AR (0.01), DATA.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$here/build/bandstat}")
repeats=${REPEATS:-3}
n=${N:-2000}
ar=${AR:-0.01}

[ -x "$exe" ] || { echo "no executable at $exe (give its path as the first argument)" >&2; exit 1; }
data_dir=$(mktemp -d)
trap 'rm -rf "$data_dir"' EXIT
if [ -n "${DATA:-}" ]; then
  example=$(realpath "$DATA")
else
  example="$data_dir/shape_200x5x20.txt"
  bash "$here/bench/write_shape.sh" "$example"
fi
[ -f "$example" ] || { echo "no data at $example" >&2; exit 1; }

clock_ticks=$(getconf CLK_TCK)

# CPU seconds (user + system) the process has used so far.
cpu_seconds() {
  local -a st
  read -r -a st <"/proc/$1/stat"
  echo "(${st[13]} + ${st[14]}) / $clock_ticks" | bc -l
}

# Prints the pilot's wall time and the CPU time of the process up to its end, in seconds,
# for the given number of threads. The CPU time shows whether the threads slow each other
# down (it grows) or merely wait for a core that the machine does not give them (it stays).
pilot_seconds() {
  local dir pid t0="" t1="" cpu=""
  dir=$(mktemp -d)
  exec {job}< <(cd "$dir" && exec "$exe" -n "$n" -ar "$ar" -seed 1 -nprocs "$1" "$example" 2>&1)
  pid=$!
  while IFS= read -r line <&"$job"; do
    case "$line" in
      "Pilot run"*) t0=$(date +%s.%N) ;;
      *"Calculation, it should take about"*)
        t1=$(date +%s.%N)
        cpu=$(cpu_seconds "$pid")
        break
        ;;
    esac
  done
  # Closing the pipe ends the job on its next progress write.
  exec {job}<&-
  wait "$pid" 2>/dev/null
  rm -rf "$dir"
  [ -n "$t0" ] && [ -n "$t1" ] || { echo "the job did not finish its pilot run" >&2; exit 1; }
  echo "$(echo "$t1 - $t0" | bc -l) $cpu"
}

# Best wall time of the repeats, with the CPU time of that run.
best_of() {
  local best="" best_cpu="" t cpu
  for _ in $(seq "$repeats"); do
    read -r t cpu <<<"$(pilot_seconds "$1")"
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then
      best=$t
      best_cpu=$cpu
    fi
  done
  echo "$best $best_cpu"
}

# The pilot size as the program computes it (nb_final / (ratio * 10), truncated).
reps=$(awk -v n="$n" -v r="$ar" 'BEGIN { printf "%d", n / (r * 10) }')
echo "machine: $(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "pilot run of about $reps replicates on $example (-n $n -ar $ar), best of $repeats"
read -r t1 c1 <<<"$(best_of 1)"
read -r t2 c2 <<<"$(best_of 2)"
printf "1 thread : %6.3f s wall %6.2f s CPU  %8.0f replicates/s\n" "$t1" "$c1" \
  "$(echo "$reps / $t1" | bc -l)"
printf "2 threads: %6.3f s wall %6.2f s CPU  %8.0f replicates/s\n" "$t2" "$c2" \
  "$(echo "$reps / $t2" | bc -l)"
printf "throughput ratio 2/1: %.3f\n" "$(echo "$t1 / $t2" | bc -l)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
