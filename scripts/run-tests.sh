#!/usr/bin/env bash
# Sets up, builds (Release) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"
