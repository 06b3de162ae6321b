#!/usr/bin/env bash
# Installs a built tree into a throwaway prefix and checks it as a user would:
# the installed Dornick starts, and a small program builds against the library
# once through find_package(Veskar) and once through pkg-config, and runs; the
# Debian package made by cpack unpacks to a Dornick that runs, with its
# compressed man page and copyright file.
# Usage: scripts/check-install.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix/usr" >/dev/null
installed="$prefix/usr"
libdir=$(dirname "$(find "$installed" -name 'libVeskar.so' -print -quit)")

# The program finds its library through its relative RPATH, not the build tree.
env -u LD_LIBRARY_PATH "$installed/bin/Dornick" --version >/dev/null
"$installed/bin/Dornick" AS samples/astronaut.png "$prefix/labels.pgm" 4 >/dev/null
test -s "$prefix/labels.pgm"
gzip -t "$installed/share/man/man1/Dornick.1.gz"
grep -q "BSD 3-Clause License" "$installed/share/doc/veskar/copyright"
soname=$(objdump -p "$libdir/libVeskar.so" | awk '/SONAME/ {print $2}')
[[ $soname =~ ^libVeskar\.so\.[0-9]+$ ]] || { echo "unversioned SONAME: $soname"; exit 1; }

cmake -S tests/install-consumer -B "$prefix/with-cmake" -DCMAKE_PREFIX_PATH="$installed" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$prefix/with-cmake" >/dev/null
"$prefix/with-cmake/consumer"

flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs veskar)
# shellcheck disable=SC2086
g++ -std=c++17 tests/install-consumer/consumer.cpp $flags -Wl,-rpath,"$libdir" -o "$prefix/with-pkg-config"
"$prefix/with-pkg-config"
# The Debian package holds the same tree and its Dornick runs from wherever it is unpacked.
(cd "$build" && cpack -G DEB -B "$prefix/deb" >/dev/null 2>&1) || { echo "cpack -G DEB failed"; exit 1; }
dpkg-deb -x "$(find "$prefix/deb" -maxdepth 1 -name '*.deb' -print -quit)" "$prefix/unpacked"
"$prefix/unpacked/usr/bin/Dornick" --version >/dev/null
gzip -t "$prefix/unpacked/usr/share/man/man1/Dornick.1.gz"
grep -q "BSD 3-Clause License" "$prefix/unpacked/usr/share/doc/veskar/copyright"
echo "Installed tree checked: Dornick runs, find_package and pkg-config consumers build and run, the DEB unpacks and runs"
