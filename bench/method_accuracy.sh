#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prediction error (PE: mean squared error of the posterior mean over the prior variance; 1
# is no better than the prior) and 95% HPDI coverage of -method regression (the default) and
# -method joint, on data simulated by the model with truths from the prior, each with its
# bootstrap standard error in brackets. One reference table per design; its test data sets
# are left out of it one at a time (see bench/method_accuracy.cpp for the details and for
# how the default method is run on the table).
#
# Designs (populations x loci x individuals): 5x200x20 (200 test data sets), 2x50x20 (300,
# a minute's work), 10x2000x20 (100), and 3 populations of 6, 10 and 14 individuals at 200
# loci (200).
# The 10x2000x20 design takes about 15 minutes of a 2-core machine (its table: 200 000
# data sets of 20 000 locus-populations).
#
# Usage: bench/method_accuracy.sh [path/to/method_accuracy] [design ...]
#   designs: 5x200x20 2x50x20 10x2000x20 unequal (default: all); env SIMS (200000),
#   THREADS (2), SEED (1).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-}
if [[ -z $exe || ! -x $exe ]]; then
  build="$here/build-bench"
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBANDSTAT_BENCH=ON >/dev/null
  cmake --build "$build" --target method_accuracy -j2 >/dev/null
  exe="$build/method_accuracy"
else
  shift
fi
designs=("$@")
[[ ${#designs[@]} -gt 0 ]] || designs=(5x200x20 2x50x20 10x2000x20 unequal)
sims=${SIMS:-200000}
threads=${THREADS:-2}
seed=${SEED:-1}

# Sample sizes of n populations of m individuals, comma-separated.
same() { local out=$2 i; for ((i = 1; i < $1; i++)); do out+=",$2"; done; echo "$out"; }

echo "design         method     sets  Fis PE (se) cov (se)  Fst PE (se) cov (se)  estimation time"
for design in "${designs[@]}"; do
  case $design in
    5x200x20) args=(200 "$(same 5 20)" "$sims" 200) ;;
    2x50x20) args=(50 "$(same 2 20)" "$sims" 300) ;;
    10x2000x20) args=(2000 "$(same 10 20)" "$sims" 100) ;;
    unequal) args=(200 "6,10,14" "$sims" 200) ;;
    *) echo "unknown design $design" >&2; exit 1 ;;
  esac
  # The figures come on standard error; standard output has the progress gauges.
  "$exe" "${args[@]}" "$threads" "$seed" 2>&1 >/dev/null
  echo
done
