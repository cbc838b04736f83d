#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Calibration of the goodness-of-fit test (-gof): its rejection rate at the 0.05 level on
# data sets simulated by the model itself (truth from the prior: the rate must be about 0.05
# or less) and on data the model cannot produce (clonal populations, loci under divergent
# selection: the higher the rate, the more power). A benchmark, not a test: it prints the
# figures. Small designs, so that it runs in minutes on a shared 2-core machine.
#
# Usage: bench/gof_calibration.sh [BUILD_DIR] [DATA_SETS]   (defaults: build, 200)
# Environment: POPS LOCI INDS (design, default 2 100 30), GOF (null size, 50),
#              RUN_OPTIONS (default "-n 500 -ar 0.05": a pilot of 1000 simulations).
# Cases: model; clonal-2 and clonal-3 (2 or 3 multilocus genotypes per population);
# selection (30% of the loci under divergent selection). Columns: the share of the tests
# (populations x statistic sets) with p < 0.05, the share of data sets with at least one,
# and the share of the posterior predictive checks with p < 0.05.
set -euo pipefail
build=${1:-build}
sets=${2:-200}
pops=${POPS:-2}
loci=${LOCI:-100}
inds=${INDS:-30}
gof=${GOF:-50}
options=${RUN_OPTIONS:--n 500 -ar 0.05}
bandstat=$(realpath "$build/bandstat")
simulate=$(realpath "$build/gof_simulate")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Design: $pops populations, $loci loci, $inds individuals; -gof $gof $options;" \
  "$sets data sets per case"
printf '%-10s %10s %14s %18s %14s\n' case tests "rejected/test" "data sets rejected" "ppc rejected"
for case in model clonal-2 clonal-3 selection; do
  mode=${case%-*}
  clones=${case#clonal-}
  [[ $mode == clonal ]] || clones=""
  tests=0 rejected=0 sets_rejected=0 ppc_tests=0 ppc_rejected=0
  for ((i = 1; i <= sets; i++)); do
    "$simulate" "$mode" "$i" "$pops" "$loci" "$inds" $clones >"$work/d.txt"
    # The job's seed differs from the data's, so that its simulations are new draws.
    (cd "$work" && "$bandstat" $options -gof "$gof" -seed $((i + 7919)) -o d d.txt \
      >/dev/null 2>&1)
    read -r t r < <(awk 'NR > 1 { t++; if ($5 < 0.05) r++ } END { print t + 0, r + 0 }' \
      "$work/d_gof.txt")
    tests=$((tests + t))
    rejected=$((rejected + r))
    ((r > 0)) && sets_rejected=$((sets_rejected + 1))
    read -r t r < <(awk 'NR > 1 && $7 != "NA" { t++; if ($7 < 0.05) r++ } END { print t + 0, r + 0 }' \
      "$work/d_ppc.txt")
    ppc_tests=$((ppc_tests + t))
    ppc_rejected=$((ppc_rejected + r))
  done
  awk -v m="$case" -v t="$tests" -v r="$rejected" -v s="$sets" -v sr="$sets_rejected" \
    -v pt="$ppc_tests" -v pr="$ppc_rejected" \
    'BEGIN { printf "%-10s %10d %14.3f %18.3f %14.3f\n", m, t, r / t, sr / s, pr / pt }'
done
