#!/usr/bin/env bash
# Installs what the build needs (Debian packages) when it is missing, then builds the
# Release configuration into build/. Usage: scripts/setup.sh [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."

# librsvg2-bin: rsvg-convert, with which the tests check that the SVG figures render.
packages=(cmake make g++ libgsl-dev libgtest-dev googletest libbenchmark-dev librsvg2-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j"$(nproc)"
