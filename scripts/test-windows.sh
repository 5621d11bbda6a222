#!/usr/bin/env bash
# Cross-builds the Windows edition and runs its tests under Wine:
#  - the platform-independent suites (protocol, simulator core, serial);
#  - the Win32 serial tests over pseudo-terminals mapped as COM ports, once
#    plainly and once with the modem-line shim that lets Wine's event waits on
#    a pty pend as on Windows:
#      COM1/COM2  a linked pair (socat), the near and the far end;
#      COM3       the Linux simulator (native build's vexel-module-sim), for
#                 the controller's whole exchange;
#      COM4       a line that hangs up on request (tests/wine/hangup_line.c);
#      COM5-COM8, COM12  fixed paths that the command-line loader's test
#                 (tests/cli/cli_wine_test.py) binds simulators to, one per case.
# Every Wine process runs in scripts/wine-sandbox.sh, in a prefix of its own
# (VEXEL_WINE_TEST_PREFIX, default /tmp/vexel-wine-test-$UID) with one
# wineserver kept alive for the run. Every wait has a time limit, the whole
# run too (VEXEL_WINE_TEST_LIMIT seconds, default 1800). Leaves no
# wineserver, socat, simulator or holder behind, also on failure or
# interruption.
#
#   scripts/test-windows.sh [BUILD_DIR] [-- CTEST_ARGS...]   (default build-win)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
sandbox="$root/scripts/wine-sandbox.sh"

if [ "${1:-}" = "--in-sandbox" ]; then
  # Inside the sandbox: map the ports (COMn=PATH...), keep one wineserver,
  # run ctest.
  shift
  build=$1
  shift
  ports=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do ports+=("$1"); shift; done
  [ "${1:-}" = "--" ] && shift
  server() { timeout 60 wineserver "$@" 2>/dev/null || true; }
  server -k
  server -w
  for port in "${ports[@]}"; do
    timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /d "${port#*=}" /f >/dev/null
  done
  server -k
  server -w
  wineserver -p 2>"$WINEPREFIX.server.log"
  timeout 60 wine reg query 'HKLM\Software\Wine\Ports' >/dev/null  # starts the mount manager
  mapped=" "
  for port in "${ports[@]}"; do
    name=${port%%=*}
    link="$WINEPREFIX/dosdevices/${name,,}"
    if [ "$(readlink "$link" || true)" != "${port#*=}" ]; then
      echo "test-windows: $link is '$(readlink "$link" || true)', not ${port#*=}; refusing" >&2
      exit 1
    fi
    mapped+="${name,,} "
  done
  for link in "$WINEPREFIX"/dosdevices/com*; do
    case "$mapped" in *" $(basename "$link") "*) ;; *) rm -f "$link" ;; esac
  done
  status=0
  VEXEL_TEST_COM_REQUIRED=1 ctest --test-dir "$build" --output-on-failure --timeout 120 \
    --no-tests=error "$@" || status=$?
  server -k
  exit $status
fi

build="$root/build-win"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then build=$(realpath -m "$1"); shift; fi
[ "${1:-}" = "--" ] && shift

vexel_wine_stage test-windows
start=$(date +%s)
vexel_configure "$build" windows
cmake --build "$build" -j "$vexel_jobs"
# The simulator is a Linux program: it comes from the native build.
native=${VEXEL_NATIVE_BUILD:-$root/build}
vexel_configure "$native" native
cmake --build "$native" -j "$vexel_jobs" --target vexel-module-sim
simulator="$native/sim/vexel-module-sim"
hangup_line="$build/tests/wine/vexel-hangup-line"

export WINEPREFIX=${VEXEL_WINE_TEST_PREFIX:-/tmp/vexel-wine-test-$(id -u)}
lines=$(mktemp -d /tmp/vexel-wine-lines.XXXXXX)
pids=()
runner=
stop_pid() {  # TERM, KILL after 5 s; returns the process's exit status
  kill "$1" 2>/dev/null || true
  vexel_wait 5 vexel_ended "$1" || kill -KILL "$1" 2>/dev/null || true
  local status=0
  wait "$1" 2>/dev/null || status=$?
  return $status
}
cleanup() {
  # The runner leads its own process group (timeout's), ctest and Wine in it.
  if [ -n "$runner" ]; then
    kill -TERM -- "-$runner" 2>/dev/null || true
    wait "$runner" 2>/dev/null || true
  fi
  timeout 30 "$sandbox" wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do stop_pid "$pid" || true; done
  rm -rf "$lines"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits up to 10 s for a helper's line to appear.
wait_for_link() {
  vexel_wait 10 test -e "$1" || { echo "test-windows: no line at $1 ($2)" >&2; exit 1; }
}

# A linked pair of pseudo-terminals; a holder keeps both slaves open so that
# socat sees no hang-up when a test closes its port.
socat pty,raw,echo=0,link="$lines/com1" pty,raw,echo=0,link="$lines/com2" 2>"$lines/socat.log" &
pids+=($!)
wait_for_link "$lines/com1" socat
wait_for_link "$lines/com2" socat
sleep infinity 3<>"$lines/com1" 4<>"$lines/com2" &
pids+=($!)
"$simulator" --link "$lines/com3" --out "$lines/flashed.mbf" --json \
  >"$lines/sim-events.jsonl" 2>"$lines/sim.log" &
sim_pid=$!
pids+=($sim_pid)
wait_for_link "$lines/com3" vexel-module-sim
"$hangup_line" "$lines/com4" >"$lines/hangup.log" 2>&1 &
pids+=($!)
wait_for_link "$lines/com4" vexel-hangup-line

cli_ports=()
for n in 5 6 7 8 12; do cli_ports+=("COM$n=$lines/cli$n"); done

export VEXEL_TEST_COM_SIM=COM3 VEXEL_TEST_COM_HANGUP=COM4
export VEXEL_TEST_CLI_PORTS="${cli_ports[*]}" VEXEL_TEST_SIM_PROGRAM="$simulator"
export VEXEL_TEST_SIM_EVENTS="Z:$lines/sim-events.jsonl" VEXEL_TEST_SIM_IMAGE="Z:$lines/flashed.mbf"
status=0
timeout --kill-after=30 "${VEXEL_WINE_TEST_LIMIT:-1800}" "$sandbox" "$0" --in-sandbox "$build" \
  "COM1=$(readlink -f "$lines/com1")" "COM2=$(readlink -f "$lines/com2")" \
  "COM3=$lines/com3" "COM4=$lines/com4" "${cli_ports[@]}" -- "$@" &
runner=$!
wait "$runner" || status=$?
runner=
# The simulator checked the loader's side of every exchange: 1 = violations.
sim_status=0
stop_pid "$sim_pid" || sim_status=$?
if [ "$sim_status" -ne 0 ]; then
  echo "test-windows: vexel-module-sim ended with status $sim_status:" >&2
  grep -E '"event":"(violation|end)"' "$lines/sim-events.jsonl" >&2 || true
  [ "$status" -ne 0 ] || status=1
fi
echo "test-windows: $(( $(date +%s) - start )) s"
exit $status
