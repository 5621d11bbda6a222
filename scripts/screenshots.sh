#!/usr/bin/env bash
# Opens the real main window under Xvfb, drives it through its main states
# against the module simulator and saves PNG screenshots of each into
# docs/screenshots/: not connected, Settings, connected, a run with its
# progress dialog, module loaded, About.
#   scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

build=${1:-build}
out=$PWD/docs/screenshots
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is missing (scripts/deps.sh test)" >&2; exit 1; }

# The screenshot driver is one of the Qt tests.
vexel_configure "$build" native
cmake "$build" -DVEXEL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target vexel_ui_screenshots -j "$vexel_jobs"

mkdir -p "$out"
# twm, when installed, draws the title bars, so the captions show; the driver
# waits until it has framed the main window.
twmrc=$(mktemp)
trap 'rm -f "$twmrc"' EXIT
cat >"$twmrc" <<'TWMRC'
UsePPosition "on"
RandomPlacement
DecorateTransients
NoGrabServer
BorderWidth 1
TitleFont "fixed"
MenuFont "fixed"
IconFont "fixed"
ResizeFont "fixed"
IconManagerFont "fixed"
TWMRC
wm=""
command -v twm >/dev/null && wm="twm -f $twmrc"
driver="$build/tests/ui_qt/vexel_ui_screenshots"
VEXEL_SCREENSHOT_DIR=$out VEXEL_SCREENSHOT_FRAMED=${wm:+1} QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    if [ -n "$1" ]; then $1 >/dev/null 2>&1 & wm_pid=$!; fi
    status=0
    "$2" || status=$?
    if [ -n "${wm_pid:-}" ]; then kill "$wm_pid"; wait "$wm_pid" 2>/dev/null; fi
    exit $status' screenshots "$wm" "$driver"
echo "screenshots: saved in docs/screenshots/"
