#!/usr/bin/env bash
# Quick start: builds the loader and programs a built-in sample image into a
# simulated module, printing each status it passes through.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vexel-demo >/dev/null
exec build/demo/vexel-demo
