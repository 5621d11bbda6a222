#!/usr/bin/env bash
# Tests the Windows setup program under Wine, in a new Wine prefix of its own
# inside the sandbox without serial devices: a silent install into C:\Vexel
# puts the programs (the dialog program and the command-line loader, which
# must run from there), the uninstaller, the Start-menu shortcut and the
# uninstall registry entry in place; a silent uninstall removes them all and
# leaves nothing behind: no file or folder on drive C that was not there
# before (the uninstaller's copy of itself in Temp included), no
# HKLM\Software\Vexel key.
# Bounded in time (VEXEL_SETUP_TEST_TIMEOUT, default 300 s); leaves no Wine
# process and no prefix behind.
#
#   scripts/test-windows-installer.sh [SETUP.exe]
#
# Without an argument it builds the setup program with
# scripts/package-windows.sh first. Exit status 0 when every check passed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
sandbox="$root/scripts/wine-sandbox.sh"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexel Module Loader'

fail() {
  echo "test-windows-installer: FAIL: $*" >&2
  exit 1
}

if [ "${1:-}" = "--in-sandbox" ]; then
  setup=$2
  shift 2
  programs=("$@")
  folder="$WINEPREFIX/drive_c/Vexel"
  shortcuts() { find "$WINEPREFIX/drive_c" -name 'Vexel Module Loader.lnk' 2>/dev/null; }
  # reg prints its "Unable to find" on stdout; only a value line counts.
  uninstall_entry() { wine reg query "$uninstall_key" /v UninstallString 2>/dev/null | tr -d '\r' | grep UninstallString || true; }

  # What the prefix holds before: the uninstall must bring it back to that.
  find "$WINEPREFIX/drive_c" | sort >"$WINEPREFIX.before"
  wine "$setup" /S '/D=C:\Vexel'
  wineserver -w
  for file in "${programs[@]}" Uninstall.exe; do
    [ -f "$folder/$file" ] || fail "C:\\Vexel\\$file is missing after the install"
    [ "$(head -c 2 "$folder/$file")" = MZ ] || fail "C:\\Vexel\\$file is no Windows program"
  done
  mapfile -t links < <(shortcuts)
  [ ${#links[@]} -eq 1 ] || fail "expected one Start-menu shortcut, found ${#links[@]}: ${links[*]:-none}"
  case "${links[0]}" in
    */"Start Menu/Programs/Vexel Module Loader/Vexel Module Loader.lnk") ;;
    *) fail "the shortcut is not in the Start menu: ${links[0]}" ;;
  esac
  # A shell link holds its target's path as text (ANSI or UTF-16).
  tr -d '\000' <"${links[0]}" | grep -aqi 'C:\\Vexel\\duvozeviv.exe' ||
    fail "the shortcut does not point at C:\\Vexel\\duvozeviv.exe"
  uninstall_entry | grep -q 'C:\\Vexel\\Uninstall.exe' ||
    fail "no uninstall registry entry naming C:\\Vexel\\Uninstall.exe"
  # The installed command-line loader runs on its own (static runtime).
  version=$(wine 'C:\Vexel\duvozeviv-cli.exe' --version 2>&1 | tr -d '\r') ||
    fail "C:\\Vexel\\duvozeviv-cli.exe --version failed: $version"
  echo "test-windows-installer: installed ${programs[*]} Uninstall.exe, shortcut ${links[0]#"$WINEPREFIX/"}, $version"

  # The uninstaller copies itself to a temporary folder and returns; the
  # copy does the work, and wineserver -w waits for it.
  wine 'C:\Vexel\Uninstall.exe' /S
  wineserver -w
  [ ! -e "$folder" ] || fail "C:\\Vexel is still there after the uninstall: $(ls -A "$folder" | tr '\n' ' ')"
  mapfile -t links < <(shortcuts)
  [ ${#links[@]} -eq 0 ] || fail "shortcut left after the uninstall: ${links[*]}"
  find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Vexel Module Loader' | grep -q . &&
    fail "Start-menu folder left after the uninstall"
  [ -z "$(uninstall_entry)" ] || fail "uninstall registry entry left after the uninstall"
  wine reg query 'HKLM\Software\Vexel' >/dev/null 2>&1 &&
    fail "HKLM\Software\Vexel is left after the uninstall"
  find "$WINEPREFIX/drive_c" | sort >"$WINEPREFIX.after"
  left=$(comm -13 "$WINEPREFIX.before" "$WINEPREFIX.after")
  [ -z "$left" ] || fail "left after the uninstall: ${left//"$WINEPREFIX/"/}"
  echo "test-windows-installer: uninstalled, nothing left"
  exit 0
fi

vexel_wine_stage test-windows-installer
start=$(date +%s)
if [ $# -ge 1 ]; then
  setup=$(realpath "$1")
else
  setup=$("$root/scripts/package-windows.sh" | tail -n 1)
fi
[ -f "$setup" ] || fail "no setup program at $setup"
# The setup program holds both programs.
programs=(duvozeviv.exe duvozeviv-cli.exe)

WINEPREFIX=$(mktemp -d /tmp/vexel-wine-setup.XXXXXX)
export WINEPREFIX
rmdir "$WINEPREFIX"  # the sandbox makes the prefix when its folder is missing
cleanup() {
  "$sandbox" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.boot.log" "$WINEPREFIX.before" "$WINEPREFIX.after"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# No display: the silent setup shows no window. No menu builder: the
# shortcut must not reach the host's desktop menus.
unset DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
status=0
timeout --kill-after=10 "${VEXEL_SETUP_TEST_TIMEOUT:-300}" \
  "$sandbox" "$0" --in-sandbox "$setup" "${programs[@]}" || status=$?
[ $status -eq 124 ] && echo "test-windows-installer: FAIL: timed out" >&2
echo "test-windows-installer: $([ $status -eq 0 ] && echo PASS || echo FAIL) in $(( $(date +%s) - start )) s"
exit $status
