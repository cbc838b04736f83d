#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the benchmark data set of 200 loci in 5 populations of 20 individuals (the 200 x 5
# x 20 shape of bench/bench_replicate.cpp) to FILE: n = 20 everywhere, band counts spread over
# 1 .. 20. Usage: bench/write_shape.sh FILE
set -euo pipefail
awk 'BEGIN {
  print "[loci]=200"; print "[populations]=5"
  for (p = 0; p < 5; p++) {
    print "[pop]=" p + 1
    for (l = 0; l < 200; l++) print l + 1, 20, 1 + (7 * l + 3 * p) % 20
  }
}' >"$1"
