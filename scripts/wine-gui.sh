#!/usr/bin/env bash
# Runs a Windows program with a display: under Xvfb when there is no X
# display, always inside the Wine sandbox without serial devices, in a
# prefix of its own whose windows live on a Wine virtual desktop. Without
# a window manager Wine waits about 2 s for the X server at each window's
# end and gives no window the focus; on its own desktop it does neither.
#
#   scripts/wine-gui.sh PROGRAM.exe [ARGS...]
#
# WINEPREFIX (default /tmp/vexel-wine-gui-$UID) and VEXEL_DESKTOP_SIZE
# (default 1280x1024) may be set.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size=${VEXEL_DESKTOP_SIZE:-1280x1024}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 ${size}x24" "$0" "$@"
fi
export WINEPREFIX=${WINEPREFIX:-/tmp/vexel-wine-gui-$(id -u)}
if [ ! -f "$WINEPREFIX/.vexel-desktop" ]; then
  "$here/wine-sandbox.sh" sh -c "
    wine reg add 'HKCU\\Software\\Wine\\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
    wine reg add 'HKCU\\Software\\Wine\\Explorer\\Desktops' /v Default /d $size /f >/dev/null 2>&1 &&
    wineserver -w"
  touch "$WINEPREFIX/.vexel-desktop"
fi
exec "$here/wine-sandbox.sh" wine "$@"
