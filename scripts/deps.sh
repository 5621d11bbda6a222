#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Idempotent: only missing packages are installed. Works as root or via sudo.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config dpkg-dev file
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  xvfb xauth twm desktop-file-utils appstream
  python3 python3-serial
  socat lintian
  # the Windows edition: cross-compiler, Wine to run it, NSIS for its setup program
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine nsis imagemagick xdotool
  # the rig on the kernel's own serial drivers: a guest kernel, its initramfs shell, the emulator
  qemu-system-x86 linux-image-amd64 busybox-static
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "deps: installing ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
