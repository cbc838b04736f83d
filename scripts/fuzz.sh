#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets of the input readers (build-fuzz, clang with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each for a while from its seed corpus.
#
#   scripts/fuzz.sh [SECONDS [TARGET...]]     (default: 60 s, every target)
#
# Targets: counts genalex table dart pops. The inputs a run finds worth keeping go to
# fuzz-out/<target>/corpus. A crash, a sanitizer report, a timeout, an out-of-memory or a
# failed check fails the script, with the input printed as a C string (ready for a test)
# and saved under fuzz-out/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(counts genalex table dart pops)

# clang, and libFuzzer's runtime, which Debian ships apart from the compiler.
packages=(cmake make clang libclang-rt-dev libgsl-dev)
bash scripts/install-packages.sh "${packages[@]}"

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBANDSTAT_FUZZ=ON -DBANDSTAT_WERROR=ON -DBANDSTAT_TESTS=OFF -DBANDSTAT_BENCH=OFF >/dev/null
targets_to_build=()
for t in "${targets[@]}"; do targets_to_build+=(--target "fuzz_$t"); done
cmake --build build-fuzz -j"$(nproc)" "${targets_to_build[@]}"

# The real data of the tests seed the band-count and GenAlEx targets too.
real_data=tests/data

# The bytes of a file as one C string literal: printable ASCII as it is, the rest escaped
# (octal escapes, three digits, so that a following digit cannot join them).
c_string() {
  od -An -v -tu1 "$1" | awk '
    BEGIN { printf "\"" }
    { for (i = 1; i <= NF; ++i) {
        b = $i + 0
        if (b == 10) printf "\\n"
        else if (b == 13) printf "\\r"
        else if (b == 9) printf "\\t"
        else if (b == 34) printf "\\\""
        else if (b == 92) printf "\\\\"
        else if (b == 63) printf "\\?"
        else if (b >= 32 && b < 127) printf "%c", b
        else printf "\\%03o", b
      } }
    END { print "\"" }'
}

# The targets write each input's check and counts files under TMPDIR; a crashing input
# leaves its folder behind, so every run gets one of its own, removed afterwards. Memory
# (/dev/shm) where there is some: the whole-reader targets run several times faster.
scratch_root=/dev/shm
[ -d "$scratch_root" ] && [ -w "$scratch_root" ] || scratch_root=${TMPDIR:-/tmp}

failed=0
for t in "${targets[@]}"; do
  out=fuzz-out/$t
  rm -rf "$out"
  mkdir -p "$out/corpus"
  seeds=(tests/fuzz/corpus/"$t")
  if [ "$t" = counts ] || [ "$t" = genalex ]; then seeds+=("$real_data"); fi
  echo "=== fuzz_$t: ${seconds} s ==="
  status=0
  # -close_fd_mask=2: the readers' warnings on standard error would flood the log; libFuzzer,
  # the sanitizers and the targets' own checks still report.
  scratch=$(mktemp -d "$scratch_root/bandstat-fuzz-run.XXXXXX")
  TMPDIR=$scratch build-fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=2 -print_final_stats=1 -dict=tests/fuzz/bandstat.dict \
    -artifact_prefix="$out/" "$out/corpus" "${seeds[@]}" >"$out/log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$out/log" | tail -n 6 || true
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "--- fuzz_$t FAILED (status $status); log tail:"
    tail -n 60 "$out/log"
    for f in "$out"/crash-* "$out"/timeout-* "$out"/oom-* "$out"/leak-*; do
      [ -e "$f" ] || continue
      case "$f" in
        */crash-*)
          # The smallest input that still fails, as the regression test should hold it.
          TMPDIR=$scratch build-fuzz/fuzz_"$t" -minimize_crash=1 -max_total_time=60 \
            -close_fd_mask=2 -exact_artifact_path="$f.min" "$f" >"$out/minimize.log" 2>&1 || true
          ;;
      esac
      if [ -s "$f.min" ]; then
        echo "--- input $f, minimised to $(wc -c <"$f.min") bytes ($f.min), as a C string:"
        c_string "$f.min"
      else
        echo "--- input $f ($(wc -c <"$f") bytes), as a C string:"
        c_string "$f"
      fi
    done
  fi
  rm -rf "$scratch"
done
exit "$failed"
