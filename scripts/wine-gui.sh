#!/usr/bin/env bash
# Runs a Windows program with a display: under Xvfb when there is no X
# display, always inside the Wine sandbox without serial devices, in a
# prefix of its own whose windows live on a Wine virtual desktop. Without
# a window manager Wine waits about 2 s for the X server at each window's
# end and gives no window the focus; on its own desktop it does neither.
# Needs root, as the sandbox does (a private mount namespace).
#
#   scripts/wine-gui.sh PROGRAM.exe [ARGS...]
#
# May be set: VEXEL_DPI, the display's scaling in dots per inch (Wine's
# LogPixels; default 96, 144 is 150 %); WINEPREFIX (default
# /tmp/vexel-wine-gui-$UID, with -<DPI>dpi appended for a DPI other than
# 96); VEXEL_DESKTOP_SIZE (default 1280x1024).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size=${VEXEL_DESKTOP_SIZE:-1280x1024}
dpi=${VEXEL_DPI:-96}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 ${size}x24" "$0" "$@"
fi
prefix=/tmp/vexel-wine-gui-$(id -u)
[ "$dpi" = 96 ] || prefix+="-${dpi}dpi"
export WINEPREFIX=${WINEPREFIX:-$prefix}
settings="desktop $size, $dpi dpi"
if [ "$(cat "$WINEPREFIX/.vexel-desktop" 2>/dev/null)" != "$settings" ]; then
  "$here/wine-sandbox.sh" sh -c "
    wine reg add 'HKCU\\Software\\Wine\\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
    wine reg add 'HKCU\\Software\\Wine\\Explorer\\Desktops' /v Default /d $size /f >/dev/null 2>&1 &&
    wine reg add 'HKCU\\Control Panel\\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1 &&
    wineserver -k && wineserver -w"
  # Debian's Wine does not find its own Marlett, which draws the caption
  # buttons (without it the close box shows an "r"); a copy in the
  # prefix's font folder is found.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  echo "$settings" >"$WINEPREFIX/.vexel-desktop"
fi
exec "$here/wine-sandbox.sh" wine "$@"
