#!/usr/bin/env bash
# Builds the Windows setup program: cross-builds the programs (configuring
# the build folder on first use), then packs them with CPack and NSIS.
# What is shipped is a Release build: a folder configured with another build
# type is switched to Release first (and so rebuilt). The last line printed
# is the setup program's path.
#
#   scripts/package-windows.sh [BUILD_DIR]     (default build-win)
#
# Then, on Windows:  duvozeviv-<version>-win64-setup.exe [/S] [/D=C:\Folder]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
build=$(realpath -m "${1:-$root/build-win}")

for tool in x86_64-w64-mingw32-g++-posix makensis cmake; do
  command -v "$tool" >/dev/null || { echo "package-windows: $tool is missing; run scripts/deps.sh windows" >&2; exit 1; }
done

vexel_configure "$build" windows
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ "$type" != Release ]; then
  echo "package-windows: $build is a ${type:-no-type} build; switching it to Release" >&2
  cmake "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi

# Only what the setup program holds (a target of the build, whatever its
# generator).
cmake --build "$build" -j "$vexel_jobs" --target windows_setup_programs

(cd "$build" && cpack -G NSIS -C Release >cpack.log 2>&1) || {
  cat "$build/cpack.log" >&2
  echo "package-windows: cpack failed" >&2
  exit 1
}
setup=$(ls -t "$build"/duvozeviv-*-win64-setup.exe | head -n 1)
echo "package-windows: $(du -h "$setup" | cut -f1) setup program"
echo "$setup"
