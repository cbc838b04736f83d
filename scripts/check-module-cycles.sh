#!/usr/bin/env bash
# Fails when the #include graph of src/ has a cycle, at two levels:
#   - files: a .cpp and its .h are one module (src/driver/run_driver);
#   - folders: src/driver, src/data, ...
# The shared-state headers in include/ belong to src/core, which defines them.
# Usage: scripts/check-module-cycles.sh   (prints the edges of a loop and exits 1)
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
exit $status
