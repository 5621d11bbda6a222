#!/usr/bin/env bash
# Screenshots of the Windows dialog program under Wine and Xvfb, saved as
# PNGs in docs/screenshots/windows/: not connected, Settings, About,
# connected, a run with its progress dialog, module loaded, and connected
# again at 150 % display scaling (connected-144dpi.png). It drives the
# program through whole runs against the module simulator, as
# scripts/test-windows-run.sh does, and shoots each state on the way.
#   scripts/screenshots-windows.sh [DIR]   (default docs/screenshots/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
vexel_wine_stage screenshots-windows
dir=${1:-$root/docs/screenshots/windows}
"$root/scripts/test-windows-run.sh" --screenshots "$dir"
scaled=$(mktemp -d /tmp/vexel-shots-144dpi.XXXXXX)
trap 'rm -rf "$scaled"' EXIT
VEXEL_DPI=144 "$root/scripts/test-windows-run.sh" --screenshots "$scaled"
cp "$scaled/connected.png" "$dir/connected-144dpi.png"
echo "screenshots-windows: saved in $dir/"
