#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the build needs (Debian packages) when it is missing, then builds the
# Release configuration into build/. Usage: scripts/setup.sh [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."

# librsvg2-bin: rsvg-convert, with which the tests check that the SVG figures render;
# groff-base: groff, with which they check that the man page renders.
packages=(cmake make g++ libgsl-dev libgtest-dev googletest libbenchmark-dev librsvg2-bin
  groff-base)
bash scripts/install-packages.sh "${packages[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j"$(nproc)"
