#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cmake --install into a scratch prefix: the programs, the man page, the documentation and
# the examples land where a user looks for them, the installed program runs the installed
# example from another folder, and the man page renders without a warning.
#
# Usage: install.sh BUILD_DIR VERSION
set -uo pipefail
build=$(realpath "$1")
version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
status=0
fail() { echo "$*"; status=1; }

cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" 2>&1 ||
  { cat "$prefix/install.log"; exit 1; }

doc=$prefix/share/doc/bandstat
for f in bin/bandstat share/man/man1/bandstat.1 share/doc/bandstat/README.md \
  share/doc/bandstat/CHANGELOG.md share/doc/bandstat/LICENSE \
  share/doc/bandstat/examples/example.txt share/doc/bandstat/examples/dart_pops.csv; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
if [ -x "$build/bandstat-mpi" ] && [ ! -x "$prefix/bin/bandstat-mpi" ]; then
  fail "bandstat-mpi was built but not installed"
fi
# Every page and picture of docs/ that the README links to is installed beside it (the man
# page, docs/bandstat.1, has its own place, checked above).
source_dir=$(dirname "$0")/../..
for link in $(grep -o '](docs/[^)#]*' "$doc/README.md" | cut -c3- | grep -v '\.1$' | sort -u); do
  [ ! -f "$source_dir/$link" ] || [ -f "$doc/$link" ] || fail "the README links to $link, which is not installed"
done

out=$("$prefix/bin/bandstat" -version)
[ "$out" = "bandstat $version" ] || fail "bandstat -version printed \"$out\", not \"bandstat $version\""

# The installed example, from a folder of its own.
work=$prefix/work
mkdir "$work"
(cd "$work" && "$prefix/bin/bandstat" -n 100 -ar 0.05 -nfis 5 -nfst 5 -seed 1 -s stats.txt \
  "$doc/examples/example.txt" >console.txt 2>&1) || { fail "the installed example failed"; cat "$work/console.txt"; }
[ "$(wc -l <"$work/stats.txt" 2>/dev/null)" = 9 ] || fail "the example's stats.txt is not 1 + 8 lines"

# The man page: its version is the program's, and groff renders it without a warning.
man1=$prefix/share/man/man1/bandstat.1
grep -q "^\.TH BANDSTAT 1 \"[^\"]*\" \"bandstat $version\"" "$man1" ||
  fail "the man page's .TH line does not name bandstat $version"
if command -v groff >/dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$man1" 2>&1)
  [ -z "$warnings" ] || fail "groff warns on the man page: $warnings"
  text=$(groff -man -Tutf8 -P-cbou "$man1" 2>/dev/null)
  for section in NAME SYNOPSIS OPTIONS "INPUT FORMATS" "OUTPUT FILES" "EXIT STATUS" EXAMPLES; do
    grep -q "^$section" <<<"$text" || fail "the man page has no section $section"
  done
else
  fail "groff is not installed (scripts/setup.sh installs groff-base)"
fi
exit $status
