#!/usr/bin/env bash
# Runs a command (usually wine, or a script that starts wine) where Wine can
# see no real serial device. Wine maps every /dev/ttyS*, ttyUSB* and ttyACM*
# it finds to a COM port, and /dev/ttyS0 is often the machine's console, so
# the command gets a private mount namespace whose /dev holds only what Wine
# needs: null, zero, full, random, urandom, tty, ptmx, pts/ (the host's, so a
# simulator's pseudo-terminal stays reachable), shm/ and the fd links.
#
#   scripts/wine-sandbox.sh COMMAND [ARGS...]
#
# Environment for the command: WINEPREFIX (default /tmp/vexel-wine-$UID,
# made on first use), WINEDEBUG=-all, no Mono/Gecko prompts. COM ports are
# mapped through the registry: scripts/wine-sandbox.sh wine reg add
# 'HKLM\Software\Wine\Ports' /v COM1 /d /tmp/vexel-com1 /f, then
# wineserver -k so that the next start picks it up. Before running the
# command the script refuses a prefix whose dosdevices/com* point at a real
# serial device.
set -euo pipefail

# Already inside a finished sandbox (a command run by an earlier call, such
# as ctest running each test through this script): nothing to set up again.
if [ "${VEXEL_WINE_SANDBOX_READY:-}" = 1 ] && ! ls /dev | grep -Eq '^tty(S|USB|ACM)'; then
  exec "$@"
fi

if [ "${VEXEL_WINE_SANDBOXED:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || {
    echo "wine-sandbox: needs root: it hides the serial devices from Wine in a private mount namespace (unshare --mount)" >&2
    exit 1
  }
  export VEXEL_WINE_SANDBOXED=1
  exec unshare --mount --propagation private -- "$0" "$@"
fi

# Inside the new mount namespace: a small /dev of our own.
newdev=$(mktemp -d /tmp/vexel-dev.XXXXXX)
mount -t tmpfs -o mode=755 vexel-dev "$newdev"
for node in null zero full random urandom tty; do
  touch "$newdev/$node"
  mount --bind "/dev/$node" "$newdev/$node"
done
mkdir "$newdev/pts" "$newdev/shm"
mount --bind /dev/pts "$newdev/pts"
mount -t tmpfs -o mode=1777 vexel-shm "$newdev/shm"
ln -s pts/ptmx "$newdev/ptmx"
ln -s /proc/self/fd "$newdev/fd"
ln -s /proc/self/fd/0 "$newdev/stdin"
ln -s /proc/self/fd/1 "$newdev/stdout"
ln -s /proc/self/fd/2 "$newdev/stderr"
mount --move "$newdev" /dev
rmdir "$newdev" 2>/dev/null || true

if ls /dev | grep -Eq '^tty(S|USB|ACM)'; then
  echo "wine-sandbox: a serial device is still visible in /dev; refusing" >&2
  exit 1
fi

export WINEPREFIX=${WINEPREFIX:-/tmp/vexel-wine-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEARCH=win64
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$WINEPREFIX.boot.log" 2>&1 || true
  wineserver -w || true
fi
for link in "$WINEPREFIX"/dosdevices/com*; do
  [ -L "$link" ] || continue
  target=$(readlink "$link")
  case "$target" in
    /dev/ttyS*|/dev/ttyUSB*|/dev/ttyACM*)
      echo "wine-sandbox: $link points at $target, a real serial device; removing it" >&2
      rm -f "$link" ;;
  esac
done
export VEXEL_WINE_SANDBOX_READY=1
exec "$@"
