#!/usr/bin/env bash
# Quick start: builds the loader, starts a simulated module on a
# pseudo-terminal bound as COM1 (paced like a real 57600-baud line), writes a
# sample image, and opens the dialog program. Without a display it says so and
# programs the sample headlessly with the command-line loader. For a real
# module set VEXEL_COM1=/dev/ttyUSB0 (or the like) and run build/app/qt/duvozeviv.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh run
# A new build folder leaves the tests and benchmarks out: running needs none
# of their libraries. A developer's folder is used as it is.
vexel_configure build native -DVEXEL_BUILD_TESTS=OFF -DVEXEL_BUILD_BENCH=OFF
cmake --build build -j "$vexel_jobs" --target duvozeviv duvozeviv-cli vexel-module-sim >/dev/null

sample_dir=$PWD/build/sample
mkdir -p "$sample_dir"
sample=$sample_dir/sample.mbf
head -c 4096 /dev/urandom >"$sample"

# The simulator's first line is its line's device path; the rest of its
# report (every request, reply and image) goes on in module.log.
log=$sample_dir/module.log
build/sim/vexel-module-sim --line-rate 57600 >"$log" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
vexel_wait 10 vexel_has_line "$log" || { echo "run: the simulator did not start: $(cat "$log")" >&2; exit 1; }
export VEXEL_COM1=$(head -n 1 "$log")
echo "simulated module on COM1 = $VEXEL_COM1 (its report: $log); sample image: $sample"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Connect, then Program module... and choose sample.mbf; close the window to end."
  (cd "$sample_dir" && "$OLDPWD/build/app/qt/duvozeviv")
else
  echo "no display (DISPLAY and WAYLAND_DISPLAY unset): programming the sample headlessly"
  build/cli/duvozeviv-cli -p COM1 "$sample"
fi
