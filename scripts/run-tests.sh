#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds (Release) and runs the whole test suite.
# Usage: scripts/run-tests.sh [extra cmake options, e.g. -DBANDSTAT_WERROR=ON]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh "$@"
ctest --test-dir build --output-on-failure -j"$(nproc)"
