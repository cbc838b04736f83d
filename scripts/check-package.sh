#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages (CPack), installs bandstat with apt as a user would, runs the
# installed program (-version, the man page, the bundled example from another folder, and
# bandstat-mpi against it over 2 ranks when MPI is built), then purges the packages.
# Run as root or with sudo; CI runs it. Usage: scripts/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# dpkg-dev and file: CPack's dependency list (dpkg-shlibdeps); man-db: man.
bash scripts/install-packages.sh cmake make g++ libgsl-dev dpkg-dev file man-db

echo "=== Building the packages (build-package/) ==="
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBANDSTAT_WERROR=ON \
  -DBANDSTAT_TESTS=OFF -DBANDSTAT_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/*.deb
(cd build-package && cpack -G DEB)
version=$(sed -n 's/^project(bandstat VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
debs=(build-package/bandstat_"$version"_*.deb)
mpi_debs=(build-package/bandstat-mpi_"$version"_*.deb)
[ -f "${debs[0]}" ] || { echo "no bandstat_${version}_*.deb was built"; exit 1; }
for deb in "${debs[@]}" "${mpi_debs[@]}"; do
  [ -f "$deb" ] || continue
  echo "--- $deb"
  dpkg-deb -f "$deb" Package Version Depends
done

packages=(bandstat)
[ -f "${mpi_debs[0]}" ] && packages+=(bandstat-mpi)
purge() { $SUDO apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true; }
trap purge EXIT

echo "=== Installing with apt ==="
# Container images often tell dpkg to drop /usr/share/man/* and /usr/share/doc/* (a
# path-exclude in /etc/dpkg/dpkg.cfg.d/); the man page, the documentation and the examples
# are taken in again for this installation only.
installable=("./${debs[0]}")
[ -f "${mpi_debs[0]}" ] && installable+=("./${mpi_debs[0]}")
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
  -o DPkg::Options::=--path-include=/usr/share/man/man1/bandstat.1* \
  -o DPkg::Options::=--path-include=/usr/share/doc/bandstat/* "${installable[@]}"

echo "=== The installed program ==="
[ "$(command -v bandstat)" = /usr/bin/bandstat ] || { echo "bandstat is not /usr/bin/bandstat"; exit 1; }
out=$(bandstat -version)
echo "$out"
[ "$out" = "bandstat $version" ] || { echo "expected \"bandstat $version\""; exit 1; }
page=$(MANPAGER=cat MANWIDTH=80 man bandstat 2>&1)
grep -q "^EXIT STATUS" <<<"$(sed 's/.\x08//g' <<<"$page")" ||
  { echo "man bandstat does not show the page:"; echo "$page" | head -20; exit 1; }
echo "man bandstat: $(wc -l <<<"$page") lines"

work=$(mktemp -d)
trap 'purge; rm -rf "$work"' EXIT
example=/usr/share/doc/bandstat/examples/example.txt
options=(-n 500 -ar 0.05 -seed 7 -s stats.txt -convert)
(cd "$work" && mkdir plain && cd plain && bandstat "${options[@]}" "$example" >/dev/null 2>&1)
echo "The bundled example, from $work/plain:"
cat "$work/plain/stats.txt"
[ "$(wc -l <"$work/plain/stats.txt")" = 9 ] || { echo "stats.txt is not 1 + 8 lines"; exit 1; }
if [[ " ${packages[*]} " == *" bandstat-mpi "* ]]; then
  (cd "$work" && mkdir mpi && cd mpi &&
    mpirun --allow-run-as-root --oversubscribe -np 2 bandstat-mpi "${options[@]}" "$example" >/dev/null 2>&1)
  cmp "$work/plain/stats.txt" "$work/mpi/stats.txt" ||
    { echo "the installed bandstat-mpi differs from bandstat"; exit 1; }
  echo "bandstat-mpi over 2 ranks: the same statistics"
fi

echo "=== Purging ==="
$SUDO apt-get purge -y -qq "${packages[@]}" >/dev/null
for f in /usr/bin/bandstat /usr/bin/bandstat-mpi /usr/share/man/man1/bandstat.1 \
  /usr/share/doc/bandstat; do
  [ ! -e "$f" ] || { echo "$f is still there after the purge"; exit 1; }
done
echo "Purged."
