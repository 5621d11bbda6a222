#!/usr/bin/env bash
# Line-rate efficiency of duvozeviv-cli.exe under Wine: a 64 KiB image into
# the Linux vexel-module-sim paced like a real 57600-baud 8E2 line, mapped as
# COM5, three runs each plainly and with the modem-line shim (tests/wine/)
# that makes Wine's event waits on a pty pend as on Windows. Prints each
# run's efficiency (the loader's summary: ideal wire time of INIT to the
# FLASH acknowledgement over the measured time) and the medians. Asserts
# nothing; takes about two minutes.
#
#   bench/run_bench_wine.sh [BUILD_WIN] [NATIVE_BUILD] [SIZE_BYTES] [RUNS]
#
# Needs the cross-build (duvozeviv-cli.exe, the shim) and the native build's
# simulator; scripts/test-windows.sh makes both. Runs in a Wine prefix of its
# own (VEXEL_WINE_BENCH_PREFIX) inside scripts/wine-sandbox.sh and leaves no
# process behind.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sandbox="$root/scripts/wine-sandbox.sh"

if [ "${1:-}" = "--in-sandbox" ]; then
  shift
  cli=$1 shim=$2 sim=$3 image=$4 runs=$5 work=$6
  server() { timeout 60 wineserver "$@" 2>/dev/null || true; }
  server -k
  server -w
  timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$work/com5" /f >/dev/null
  server -k
  server -w
  wineserver -p 2>"$work/server.log"
  timeout 60 wine reg query 'HKLM\Software\Wine\Ports' >/dev/null  # starts the mount manager
  if [ "$(readlink "$WINEPREFIX/dosdevices/com5")" != "$work/com5" ]; then
    echo "bench-wine: COM5 is not mapped to $work/com5; refusing" >&2
    exit 1
  fi
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ "$(basename "$link")" = com5 ] || rm -f "$link"
  done
  for mode in plain shim; do
    preload=
    [ "$mode" = shim ] && preload=$shim
    for run in $(seq "$runs"); do
      rm -f "$work/com5"
      "$sim" --link "$work/com5" --line-rate 57600 --count 1 >"$work/sim.log" 2>&1 &
      sim_pid=$!
      for _ in $(seq 200); do [ -e "$work/com5" ] && break; sleep 0.05; done
      status=0
      LD_PRELOAD=$preload timeout 600 wine "$cli" -p COM5 "Z:${image//\//\\}" \
        >"$work/cli.out" 2>"$work/cli.err" || status=$?
      [ "$status" -eq 0 ] || kill "$sim_pid" 2>/dev/null || true
      wait "$sim_pid" || true
      if [ "$status" -ne 0 ]; then
        echo "bench-wine: $mode run $run failed with status $status: $(cat "$work/cli.err")" >&2
        continue
      fi
      share=$(tr -d '\r' <"$work/cli.out" | awk '$1 == "COM5" && $2 == "MODULE" { sub("%", "", $NF); print $NF / 100 }')
      echo "$mode $run $share"
    done
  done
  server -k
  exit 0
fi

build=$(realpath -m "${1:-$root/build-win}")
native=$(realpath -m "${2:-$root/build}")
size=${3:-65536}
runs=${4:-3}
cli="$build/cli/duvozeviv-cli.exe"
shim="$build/tests/wine/libvexel_modem_lines.so"
sim="$native/sim/vexel-module-sim"
for file in "$cli" "$shim" "$sim"; do
  [ -e "$file" ] || { echo "bench-wine: missing $file; run scripts/test-windows.sh first" >&2; exit 1; }
done

export WINEPREFIX=${VEXEL_WINE_BENCH_PREFIX:-/tmp/vexel-wine-bench-$(id -u)}
work=$(mktemp -d /tmp/vexel-wine-bench.XXXXXX)
runner=
cleanup() {
  if [ -n "$runner" ]; then
    kill -TERM -- "-$runner" 2>/dev/null || true
    wait "$runner" 2>/dev/null || true
  fi
  timeout 30 "$sandbox" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

head -c "$size" /dev/urandom >"$work/image.mbf"
timeout --kill-after=30 1800 "$sandbox" "$0" --in-sandbox "$cli" "$shim" "$sim" \
  "$work/image.mbf" "$runs" "$work" >"$work/results" &
runner=$!
wait "$runner"
runner=
cat "$work/results"
for mode in plain shim; do
  median=$(awk -v m="$mode" '$1 == m { print $3 }' "$work/results" | sort -n |
           awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }')
  echo "median $mode: efficiency ${median:-none} ($((size / 1024)) KiB image, 57600 8E2 paced)"
done
