#!/usr/bin/env bash
# Builds the Debian package of the three programs (duvozeviv, duvozeviv-cli,
# vexel-module-sim) in build-package/ and prints its path on the last line.
# Install it with `sudo apt install ./build-package/duvozeviv_*.deb` (which
# brings in the libraries it depends on), remove it with `sudo apt remove
# duvozeviv`.
#
# The compiler and linker flags are Debian's (dpkg-buildflags, with all its
# hardening); warnings never stop this build. When lintian is installed the
# package is checked with it, and an error stops the script.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh package >&2

dir=build-package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DVEXEL_BUILD_TESTS=OFF -DVEXEL_BUILD_BENCH=OFF -DVEXEL_WARNINGS_AS_ERRORS=OFF >&2
cmake --build "$dir" -j "$vexel_jobs" >&2

rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB) >&2
deb=$(ls "$dir"/*.deb)
if command -v lintian >/dev/null; then
  lintian --fail-on error --info "$deb" >&2
fi
realpath "$deb"
