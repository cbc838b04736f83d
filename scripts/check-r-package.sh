#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the R package in r/bandstat and runs R CMD check on it against the program built
# from this tree (BANDSTAT_PROGRAM, unless already set), so that its tests drive this very program. Installs
# the Debian packages it needs, builds the program when build/bandstat is missing, and
# keeps the tarball and the check folder out of the tree.
# Usage: scripts/check-r-package.sh [scratch folder, default: a new temporary folder]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-packages.sh r-base-core r-cran-adegenet r-cran-testthat \
  r-cran-processx r-cran-withr
[[ -x build/bandstat ]] || bash scripts/setup.sh

# The package ships copies of the bundled examples (a package cannot reach outside itself);
# they must not drift from the originals.
for f in example.txt table.csv; do
  if ! cmp -s "examples/$f" "r/bandstat/inst/extdata/$f"; then
    echo "r/bandstat/inst/extdata/$f differs from examples/$f: copy it again"
    exit 1
  fi
done

scratch=${1:-$(mktemp -d)}
mkdir -p "$scratch"
cd "$scratch"
rm -rf bandstat_*.tar.gz bandstat.Rcheck
R CMD build "$root/r/bandstat"
export BANDSTAT_PROGRAM=${BANDSTAT_PROGRAM:-$root/build/bandstat}
# The check counts as failed on any ERROR or WARNING; NOTEs are printed but pass.
_R_CHECK_FORCE_SUGGESTS_=true R CMD check --no-manual bandstat_*.tar.gz
if grep -qE '^Status:.*(ERROR|WARNING)' bandstat.Rcheck/00check.log; then
  echo "R CMD check reported an ERROR or a WARNING; see $scratch/bandstat.Rcheck"
  exit 1
fi
echo "R package check passed; the check folder is $scratch/bandstat.Rcheck"
