#!/usr/bin/env bash
# Cross-builds the Windows edition and runs its tests under Wine:
#  - the platform-independent suites (protocol, simulator core, serial);
#  - the Win32 serial tests over a linked pseudo-terminal pair (socat) mapped
#    as COM1/COM2, once plainly and once with the modem-line shim that lets
#    Wine's event waits on a pty pend as on Windows.
# Every Wine process runs in scripts/wine-sandbox.sh, in a prefix of its own
# (VEXEL_WINE_TEST_PREFIX, default /tmp/vexel-wine-test-$UID) with one
# wineserver kept alive for the run. Leaves no wineserver, socat or holder
# behind, also on failure or interruption.
#
#   scripts/test-windows.sh [BUILD_DIR] [-- CTEST_ARGS...]   (default build-win)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sandbox="$root/scripts/wine-sandbox.sh"

if [ "${1:-}" = "--in-sandbox" ]; then
  # Inside the sandbox: map the ports, keep one wineserver, run ctest.
  shift
  build=$1 line1=$2 line2=$3
  shift 3
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  for n in 1 2; do
    line_var="line$n"
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "${!line_var}" /f >/dev/null
  done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p 2>"$WINEPREFIX.server.log"
  wine reg query 'HKLM\Software\Wine\Ports' >/dev/null  # starts the mount manager
  for n in 1 2; do
    line_var="line$n"
    link="$WINEPREFIX/dosdevices/com$n"
    if [ "$(readlink "$link" || true)" != "${!line_var}" ]; then
      echo "test-windows: $link is '$(readlink "$link" || true)', not ${!line_var}; refusing" >&2
      exit 1
    fi
  done
  for link in "$WINEPREFIX"/dosdevices/com*; do
    case "$(basename "$link")" in com1|com2) ;; *) rm -f "$link" ;; esac
  done
  status=0
  VEXEL_TEST_COM_REQUIRED=1 ctest --test-dir "$build" --output-on-failure --timeout 120 \
    --no-tests=error "$@" || status=$?
  wineserver -k 2>/dev/null || true
  exit $status
fi

build="$root/build-win"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then build=$(realpath -m "$1"); shift; fi
[ "${1:-}" = "--" ] && shift

start=$(date +%s)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j2

export WINEPREFIX=${VEXEL_WINE_TEST_PREFIX:-/tmp/vexel-wine-test-$(id -u)}
lines=$(mktemp -d /tmp/vexel-wine-lines.XXXXXX)
pids=()
cleanup() {
  "$sandbox" wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$lines"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A linked pair of pseudo-terminals; a holder keeps both slaves open so that
# socat sees no hang-up when a test closes its port.
socat pty,raw,echo=0,link="$lines/com1" pty,raw,echo=0,link="$lines/com2" 2>"$lines/socat.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -e "$lines/com1" ] && [ -e "$lines/com2" ] && break
  sleep 0.05  # socat makes the links within milliseconds
done
[ -e "$lines/com1" ] && [ -e "$lines/com2" ] || { echo "test-windows: socat made no pty pair" >&2; exit 1; }
sleep infinity 3<>"$lines/com1" 4<>"$lines/com2" &
pids+=($!)

status=0
"$sandbox" "$0" --in-sandbox "$build" "$(readlink -f "$lines/com1")" "$(readlink -f "$lines/com2")" \
  "$@" || status=$?
echo "test-windows: $(( $(date +%s) - start )) s"
exit $status
