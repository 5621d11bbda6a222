#!/usr/bin/env bash
# Draws the Windows edition's artwork again: the icon (.ico with 32x32 and
# 16x16 images) and IDB_PICTURE as an uncompressed 8-bit BMP with a
# 256-entry colour table, into app/win32/artwork/. The drawing tool is Qt,
# which the cross-build cannot run, so its output is committed there.
#
#   scripts/make-windows-artwork.sh [NATIVE_BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
build=${1:-build}
vexel_configure "$build" native
cmake --build "$build" -j "$vexel_jobs" --target vexel_artwork >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=offscreen "$build/app/qt/vexel_artwork" "$out"
# ImageMagick 6 under its own name: a plain "convert" may be another tool.
im=$(command -v convert-im6.q16 || command -v magick || echo /usr/bin/convert)
"$im" "$out/IDB_PICTURE.png" -alpha off -colors 256 -type Palette -compress None \
  BMP3:app/win32/artwork/IDB_PICTURE.bmp
cp "$out/duvozeviv.ico" app/win32/artwork/duvozeviv.ico
echo "app/win32/artwork: IDB_PICTURE.bmp and duvozeviv.ico drawn again"
