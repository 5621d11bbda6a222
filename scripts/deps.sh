#!/usr/bin/env bash
# Installs the Debian packages one purpose needs, and only those:
#
#   scripts/deps.sh [PROFILE...]     (default: all of them)
#
#   run      build and run the three programs (scripts/run.sh)
#   test     everything scripts/test.sh needs: the test suite, sanitizers,
#            fuzzing, the Windows edition under Wine, the QEMU rig, benchmarks
#   windows  cross-build, test and pack the Windows edition
#   package  the Debian package (scripts/package.sh)
#
# Idempotent: when every package is there apt-get is not run at all. Works
# as root or through sudo; otherwise it names what is missing and stops.
set -euo pipefail

# The compiler, CMake and Ninja; Qt and the two header libraries the
# command-line loader and the simulator are written on.
run=(cmake g++ ninja-build qt6-base-dev libcli11-dev nlohmann-json3-dev)
# The cross-compiler, Wine to run its programs, NSIS for the setup program;
# GoogleTest's sources, which the cross-build compiles; Xvfb, xdotool and
# ImageMagick drive and shoot the dialog program; socat links COM ports.
windows=("${run[@]}" libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine nsis
  xvfb xauth xdotool imagemagick socat python3)
package=("${run[@]}" dpkg-dev file lintian)
test=("${windows[@]}" libbenchmark-dev
  clang libclang-rt-14-dev desktop-file-utils appstream twm python3-serial
  # the rig on the kernel's own serial drivers: a guest kernel, its
  # initramfs shell, the emulator
  qemu-system-x86 linux-image-amd64 busybox-static)
# What developers use beside the scripts (clang-format: .clang-format).
all=("${test[@]}" "${package[@]}" clang-format)

[ $# -gt 0 ] || set -- all
wanted=()
for profile in "$@"; do
  case $profile in
    run | test | windows | package | all) declare -n list=$profile; wanted+=("${list[@]}"); unset -n list ;;
    *) echo "deps: no profile '$profile' (run, test, windows, package, all)" >&2; exit 2 ;;
  esac
done

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null || ! { [ -t 0 ] || sudo -n true 2>/dev/null; }; then
    echo "deps: missing for '$*': ${missing[*]}" >&2
    echo "deps: not root and no usable sudo; as root run:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  sudo=sudo
fi
echo "deps: installing for '$*': ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
