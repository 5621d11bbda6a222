#!/usr/bin/env bash
# Screenshots of the Windows dialog program under Wine and Xvfb, saved as
# PNGs in docs/screenshots/windows/: not connected, Settings, About,
# connected, a run with its progress dialog, module loaded. It drives the
# program through a whole run against the module simulator, as
# scripts/test-windows-run.sh does, and shoots each state on the way.
#   scripts/screenshots-windows.sh [DIR]   (default docs/screenshots/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/test-windows-run.sh" --screenshots "${1:-$root/docs/screenshots/windows}"
echo "screenshots-windows: saved in ${1:-docs/screenshots/windows}/"
