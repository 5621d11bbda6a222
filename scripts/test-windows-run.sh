#!/usr/bin/env bash
# The whole run of the Windows dialog program under Wine, driven through the
# keyboard as a user would: duvozeviv.exe on a Wine virtual desktop under a
# private Xvfb, COM1 mapped to a vexel-module-sim line, keys sent with
# xdotool. Connect (the focused button, space) gives "CONNECTED" after the
# one-second probe window; Tab and space open the file dialog; the image's
# path and Enter load it, byte-exact in the simulator, with "MODULE LOADED";
# Escape ends the program. vexel-window-probe reads the window texts back,
# and screenshots confirm the status line's colour.
#
#   scripts/test-windows-run.sh [--screenshots DIR]
#
# With --screenshots it also saves PNGs of each state into DIR: not connected,
# Settings, About, connected, a run with its progress dialog, module loaded.
# Builds what it needs (BUILD_WIN, default build-win; BUILD_NATIVE, default
# build, for the simulator). Every wait polls for its condition with a
# generous deadline; the whole run is bounded (VEXEL_RUN_TEST_TIMEOUT,
# default 300 s). VEXEL_DPI sets the display's scaling in dots per inch
# (Wine's LogPixels; default 96, 144 is 150 %). Leaves no Wine process,
# simulator or Xvfb behind.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
size=1024x768

# Control ids of the main dialog and the progress dialog.
IDC_CONNECT=1000 IDC_PROGRAM=1002 IDC_SETTINGS=1003 IDC_STATUS=1004 IDC_PROGRESS=1010
MAIN="Vexel Module Loader"

say() { echo "test-windows-run: $*"; }
fail() {
  echo "test-windows-run: FAIL: $*" >&2
  exit 1
}

if [ "${1:-}" = "--in-sandbox" ]; then
  shift
  work=$1 line=$2 image=$3 shots=$4
  program=$work/duvozeviv.exe probe=$work/vexel-window-probe.exe

  # Wine processes: the program in the background, the probe in the
  # foreground; its output is the window's rectangle once it matches.
  probe() { wine "$probe" "$@" | tr -d '\r'; }
  key() { xdotool key --delay 40 "$@"; }
  capture() {  # FILE RECT: the screen cropped to the rectangle
    read -r x y w h <<<"$2"
    import-im6.q16 -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
  }
  shot() {  # NAME RECT [moving]: once two captures in a row agree, so that
            # windows behind a new one have finished repainting
    capture "$work/$1.png" "$2"
    if [ "${3:-}" != moving ]; then
      for _ in $(seq 20); do
        capture "$work/again.png" "$2"
        cmp -s "$work/$1.png" "$work/again.png" && break
        mv "$work/again.png" "$work/$1.png"
      done
    fi
    [ -z "$shots" ] || cp "$work/$1.png" "$shots/$1.png"
  }
  colour_pixels() {  # FILE COLOUR: how many pixels have exactly that colour
    convert-im6.q16 "$1" -alpha off -fill black +opaque "$2" -fill white -opaque "$2" \
      -format '%[fx:round(mean*w*h)]' info:
  }
  expect_colour() {  # NAME COLOUR WHAT
    local n
    n=$(colour_pixels "$work/$1.png" "$2")
    [ "$n" -ge 20 ] || fail "$3: no $2 pixels in the screenshot $1.png"
  }

  # One desktop for every Wine process, COM1 on the simulator's line, no
  # menu builder; then a fresh wineserver that stays up for the whole run.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  # Debian's Wine does not find its own Marlett, which draws the caption
  # buttons; a copy in the prefix's font folder is found.
  fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$fonts/marlett.ttf" ] || cp /usr/share/wine/fonts/marlett.ttf "$fonts/" 2>/dev/null || true
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$size" /f >/dev/null
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${VEXEL_DPI:-96}" /f >/dev/null
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$line" /f >/dev/null
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM2 /f >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p 2>"$work/wineserver.log"
  wine reg query 'HKLM\Software\Wine\Ports' >/dev/null  # the mount manager makes dosdevices/com*
  [ "$(readlink "$WINEPREFIX/dosdevices/com1" || true)" = "$line" ] ||
    fail "COM1 is '$(readlink "$WINEPREFIX/dosdevices/com1" || true)', not $line; refusing to open a port"
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ "$(basename "$link")" = com1 ] || rm -f "$link"
  done

  LD_PRELOAD=$work/libvexel_modem_lines.so wine "$program" >"$work/program.log" 2>&1 &
  program_pid=$!

  rect=$(probe "$MAIN" 60000 "$IDC_STATUS=NOT CONNECTED" "$IDC_CONNECT=Connect" "$IDC_CONNECT:on" \
    "$IDC_PROGRAM:off" "$IDC_SETTINGS:on" "focus=$IDC_CONNECT" active) || fail "the main window did not come up"
  say "main window at $rect: NOT CONNECTED, Connect focused"
  # Keys go to the X window with the focus, which Wine gives to the window
  # it activates: no window manager, nobody else moves it.

  if [ -n "$shots" ]; then
    key Tab
    probe "$MAIN" 10000 "focus=$IDC_SETTINGS" >/dev/null || fail "Tab did not reach Settings..."
    key space
    probe Settings 10000 active focus=1 >/dev/null || fail "Settings did not open"
    shot settings "$rect"
    key Return  # OK keeps COM1
    probe '!Settings' 10000 || fail "Settings did not close"
    # The window menu's last item; Wine's own "About Wine" is above it.
    key alt+space Up Return
    probe 'About Vexel Loader' 10000 active focus=1 >/dev/null || fail "About did not open"
    shot about "$rect"
    key Return
    probe '!About Vexel Loader' 10000 || fail "About did not close"
    key shift+Tab
    probe "$MAIN" 10000 "focus=$IDC_CONNECT" >/dev/null || fail "Shift+Tab did not reach Connect"
  fi
  # After the boxes, as Wine draws the first window's caption inactive until
  # another window has been active.
  shot not-connected "$rect"
  expect_colour not-connected '#FF0000' "NOT CONNECTED is not red"

  started=$(date +%s%N)
  key space
  probe "$MAIN" 15000 "$IDC_STATUS=CONNECTED" "$IDC_CONNECT=Disconnect" "$IDC_PROGRAM:on" \
    "$IDC_SETTINGS:off" >/dev/null || fail "Connect did not give CONNECTED"
  waited=$(( ($(date +%s%N) - started) / 1000000 ))
  [ "$waited" -ge 1000 ] || fail "CONNECTED after $waited ms, before the one-second probe window ended"
  say "CONNECTED after $waited ms"
  shot connected "$rect"
  expect_colour connected '#00C864' "CONNECTED is not green"

  key Tab
  probe "$MAIN" 10000 "focus=$IDC_PROGRAM" >/dev/null || fail "Tab did not reach Program module..."
  key space
  probe Open 15000 >/dev/null || fail "Program module... opened no file dialog"
  winpath="Z:$(tr / '\\' <<<"$image")"
  xdotool type --delay 30 "$winpath"
  key Return
  say "chose $winpath"
  if [ -n "$shots" ]; then
    run=$(probe "Programming progress" 60000 "$IDC_PROGRESS>=40%") || fail "no progress dialog"
    shot run "$rect" moving
    say "progress dialog at $run"
  fi
  probe "$MAIN" 120000 "$IDC_STATUS=MODULE LOADED" >/dev/null || fail "the run did not end in MODULE LOADED"
  probe '!Programming progress' 10000 || fail "the progress dialog stayed after the run"
  say "MODULE LOADED"
  shot module-loaded "$rect"
  expect_colour module-loaded '#00C864' "MODULE LOADED is not green"

  key Escape
  vexel_wait 30 vexel_ended "$program_pid" || fail "Escape did not end the program"
  wait "$program_pid" || true
  say "Escape ended the program"
  wineserver -k 2>/dev/null || true
  exit 0
fi

shots=""
if [ "${1:-}" = "--screenshots" ]; then
  [ $# -ge 2 ] || fail "--screenshots needs a folder"
  mkdir -p "$2"
  shots=$(realpath "$2")
fi

# Keys go to a display of our own, never to a user's session.
if [ "${VEXEL_RUN_XVFB:-}" != 1 ]; then
  vexel_wine_stage test-windows-run
  for tool in xvfb-run xdotool import-im6.q16 convert-im6.q16 wine; do
    command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/deps.sh windows"
  done
  export VEXEL_RUN_XVFB=1
  exec timeout --kill-after=10 "${VEXEL_RUN_TEST_TIMEOUT:-300}" \
    xvfb-run -a -s "-screen 0 ${size}x24" "$0" "$@"
fi

start=$(date +%s)
build_win=$(realpath -m "${BUILD_WIN:-$root/build-win}")
build_native=$(realpath -m "${BUILD_NATIVE:-$root/build}")
vexel_configure "$build_win" windows
vexel_configure "$build_native" native
cmake --build "$build_win" -j "$vexel_jobs" --target duvozeviv vexel-window-probe wine_modem_lines >/dev/null
cmake --build "$build_native" -j "$vexel_jobs" --target vexel-module-sim >/dev/null

work=$(mktemp -d /tmp/vexel-wine-run.XXXXXX)
export WINEPREFIX=${VEXEL_WINE_RUN_PREFIX:-/tmp/vexel-wine-run-$(id -u)}
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# One run at a time per prefix: it has one desktop and one COM1.
exec 9>"$WINEPREFIX.lock"
flock -w 600 9 || fail "another run holds $WINEPREFIX"
sim_pid=""
cleanup() {
  "$root/scripts/wine-sandbox.sh" wineserver -k >/dev/null 2>&1 || true
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cp "$build_win/app/win32/duvozeviv.exe" "$build_win/tests/ui_win32/vexel-window-probe.exe" \
  "$build_win/tests/wine/libvexel_modem_lines.so" "$work/"
# An image that ends in a short chunk; with screenshots, one long enough at
# the paced line rate for the progress dialog to be caught mid-run.
image=$work/image.mbf
head -c "$([ -n "$shots" ] && echo 40000 || echo 4001)" /dev/urandom >"$image"
# The simulator stays until the program has ended: a simulator that ended
# first would hang up the line, which the program rightly reports as lost.
"$build_native/sim/vexel-module-sim" --link "$work/com1" --out "$work/flashed.mbf" \
  --line-rate 57600 >"$work/sim.log" 2>&1 &
sim_pid=$!
vexel_wait 5 test -e "$work/com1" || fail "the simulator made no line: $(cat "$work/sim.log")"

status=0
"$root/scripts/wine-sandbox.sh" "$0" --in-sandbox "$work" "$work/com1" "$image" "$shots" || status=$?
if [ $status -eq 0 ]; then
  cmp "$image" "$work/flashed.mbf" || { status=1; echo "test-windows-run: FAIL: the flashed image differs" >&2; }
fi
if [ $status -eq 0 ]; then
  # Ended now, it reports in its status any fault it found in the loader's side.
  kill -TERM "$sim_pid" 2>/dev/null || true
  if ! vexel_wait 5 vexel_ended "$sim_pid"; then
    status=1
    echo "test-windows-run: FAIL: the simulator did not end when asked" >&2
  elif ! wait "$sim_pid"; then
    status=1
    echo "test-windows-run: FAIL: the simulator found a fault in the loader's side" >&2
  else
    say "the simulator holds the image byte-exact ($(stat -c %s "$image") bytes)"
  fi
  sim_pid=""
fi
[ $status -eq 0 ] || { echo "--- simulator log"; tail -n 20 "$work/sim.log"; } >&2
echo "test-windows-run: $([ $status -eq 0 ] && echo PASS || echo FAIL) in $(( $(date +%s) - start )) s"
exit $status
