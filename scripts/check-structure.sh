#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the rules the layout of src/ rests on, and fails when one is broken:
#   - the #include graph has no cycle, at two levels: files (a .cpp and its .h are one
#     module, src/driver/run_driver) and folders (src/driver, src/data, ...); the
#     shared-state headers in include/ belong to src/core, which defines them;
#   - only the error module (src/core/errors.cpp) ends the process;
#   - only the command line (src/driver/command_line.cpp) reads the option parser;
#   - every source, header, test, benchmark and script file names its licence,
#     "SPDX-License-Identifier: GPL-3.0-or-later", in its first line (the second after "#!").
# Usage: scripts/check-structure.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# One "from to" line per quoted include; the module of a header is its path without the
# extension, and include/*.h map to core.
edges() {
  local level=$1
  local file target from to
  for file in src/*/*.cpp src/*/*.h include/*.h; do
    from=${file%.*}
    [[ $file == include/* ]] && from=src/core/$(basename "$from")
    while IFS= read -r target; do
      if [[ -e include/$target ]]; then
        to=src/core/${target%.h}
      elif [[ -e src/$target ]]; then
        to=src/${target%.*}
      else
        continue  # a system or third-party header
      fi
      if [[ $level == folder ]]; then
        echo "$(dirname "$from") $(dirname "$to")"
      else
        echo "$from $to"
      fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  done
}

status=0
for level in file folder; do
  # tsort reads "a b" as "a before b" and reports any loop on standard error.
  if ! edges "$level" | tsort >/dev/null 2>"${TMPDIR:-/tmp}/module-cycles.$$"; then
    echo "Include cycle between ${level}s of src/:"
    cat "${TMPDIR:-/tmp}/module-cycles.$$"
    status=1
  fi
  rm -f "${TMPDIR:-/tmp}/module-cycles.$$"
done
[[ $status -eq 0 ]] && echo "No include cycle between files or folders of src/."

exits=$(grep -nE '\b(std::)?(_Exit|exit|abort|quick_exit)[[:space:]]*\(' src/*/*.cpp src/*/*.h \
  include/*.h | grep -v '^src/core/errors\.cpp:' | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' || true)
if [[ -n $exits ]]; then
  echo "The process ends outside the error module:"
  echo "$exits"
  status=1
fi

readers=$(grep -lE 'options/anyoption\.h' src/*/*.cpp src/*/*.h include/*.h |
  grep -vE '^src/(options/|driver/command_line\.cpp$)' || true)
if [[ -n $readers ]]; then
  echo "The option parser is used outside the command line:"
  echo "$readers"
  status=1
fi
# The fuzz corpus and the test data are inputs, not sources (the data keep their own licences).
unlicensed=$(
  {
    find src include tests bench scripts .ci -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \) \
      -not -path 'tests/fuzz/corpus/*' -not -path 'tests/data/*'
    echo .ci/run
    echo CMakeLists.txt
  } | sort | while IFS= read -r f; do
    awk 'NR == 1 && /^#!/ { next } { found = /SPDX-License-Identifier: GPL-3\.0-or-later/; exit }
      END { exit !found }' "$f" || echo "$f"
  done
)
if [[ -n $unlicensed ]]; then
  echo "No SPDX licence line at the head of:"
  echo "$unlicensed"
  status=1
fi
exit $status
