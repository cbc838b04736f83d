#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds, and runs bandstat on the bundled example; the outputs go to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
mkdir -p out
./build/bandstat -s stats.txt -convert -keep -nprocs 2 -od out/ examples/example.txt
echo
echo "Outputs in out/:"
ls -l out/
echo
echo "Statistics (out/stats.txt):"
cat out/stats.txt
