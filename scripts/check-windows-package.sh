#!/usr/bin/env bash
# The Windows installer under wine64: scripts/package-windows.sh makes
# vantelo-VERSION-setup.exe, which installs silently (/S) for the prefix's
# user, without administrator rights: the programs and their DLLs in
# %LOCALAPPDATA%\Programs\Vantelo, the Start menu entry, the uninstaller and
# its entry among the user's installed programs. The installed line tool
# runs; the uninstaller (/S) then takes all of it away again.
#
# Usage: scripts/check-windows-package.sh [BUILD]   (default: build-windows)
# Exits non-zero when a step fails, naming it.
set -uo pipefail
NAME=check-windows-package
# shellcheck source=scripts/wine-session.sh
. "$(dirname "$0")/wine-session.sh"
require_programs Xvfb openbox xdotool mount umount

build=${1:-build-windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
step=""
make_wine_work
mounted=""
finish() {
    [ -z "$mounted" ] || umount "$mounted" 2>/dev/null
    end_wine_session
}
fail() {
    echo "$NAME: FAIL: $step: $*"
    finish
    exit 1
}
say() { step=$*; echo "$NAME: $*"; }
started=$SECONDS

say "the installer"
setup=$(scripts/package-windows.sh "$build" | tail -n 1)
[ -f "$setup" ] || fail "no installer"
find_wine
use_wine_prefix "$build"
# No desktop: the silent installer shows nothing.
run() { env -u DISPLAY -u WAYLAND_DISPLAY timeout 120 "$wine" "$@"; }

user_dir=$(run cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
[ -n "$user_dir" ] || fail "no %LOCALAPPDATA% in wine's prefix"
installed=$(env -u DISPLAY "$wine" winepath -u "$user_dir\\Programs\\Vantelo" 2>/dev/null)
menu=$(env -u DISPLAY "$wine" winepath -u \
    "$(run cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\Vantelo" 2>/dev/null)
[ -n "$installed" ] && [ -n "$menu" ] || fail "cannot name the install's folders"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantelo'
rm -rf "$installed" "$menu"

say "a silent install for the user"
run "$(env -u DISPLAY "$wine" winepath -w "$setup")" /S || fail "the installer failed"
"$wineserver" -w
for f in vantelo.exe vantelo-line.exe uninstall.exe Qt6Core.dll Qt6Widgets.dll platforms/qwindows.dll \
    libstdc++-6.dll; do
    [ -f "$installed/$f" ] || fail "no $f in $installed"
done
[ -f "$menu/Vantelo.lnk" ] || fail "no Start menu entry in $menu"
[ -f "$menu/Uninstall Vantelo.lnk" ] || fail "no uninstaller entry in $menu"
run reg query "$key" /v DisplayVersion 2>/dev/null | grep -q "$(basename "$setup" | sed 's/vantelo-\(.*\)-setup.exe/\1/')" ||
    fail "no version in $key"
run reg query "$key" /v UninstallString >/dev/null 2>&1 || fail "no uninstaller in $key"

say "the installed line tool runs"
run "$user_dir\\Programs\\Vantelo\\vantelo-line.exe" --version | grep -q '^vantelo-line ' ||
    fail "the installed vantelo-line.exe does not give its version"

say "the installed program, its folder closed to the user"
# Closed as an install under Program Files is: the folder is mounted read-only
# over itself, so that no file can be made there whoever asks (root too).
# The settings file then goes to %APPDATA%\Vantelo.
settings=$(env -u DISPLAY "$wine" winepath -u \
    "$(run cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')\Vantelo" 2>/dev/null)
[ -n "$settings" ] || fail "cannot name %APPDATA%\\Vantelo"
rm -rf "$settings"
mount --bind "$installed" "$installed" && mounted=$installed &&
    mount -o remount,bind,ro "$installed" || fail "cannot mount $installed read-only over itself"
touch "$installed/probe" 2>/dev/null && fail "$installed still takes new files"
# The wine desktop the calls above started has no display: it ends first,
# so that the program's gets the X server's.
"$wineserver" -k 2>/dev/null
"$wineserver" -w
start_x_server
start_window_manager
(cd "$installed" && exec "$wine" "$user_dir\Programs\Vantelo\vantelo.exe" >"$WORK/wine.log" 2>&1) &
pid=$!
PIDS+=("$pid")
wait_until 90 "the installed program's window" window_shown "$dialer_title"
dialer=$(window_named "$dialer_title")
# Close (at 1320, 4440 twips) ends the program, which saves its settings.
click "$dialer" $(($(px 1320) + 40)) $(($(px 4440) + 12))
ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_until 30 "the installed program's end" ended
wait "$pid" || fail "the installed vantelo.exe ended with status $?"
grep -q '^AutoConnect=0' "$settings/test.ini" 2>/dev/null ||
    { cat "$WORK/wine.log"; fail "no settings in $settings/test.ini"; }
[ ! -e "$installed/test.ini" ] || fail "a settings file in the closed program folder"
umount "$installed" || fail "cannot unmount $installed"
mounted=""

say "a silent uninstall"
run "$user_dir\\Programs\\Vantelo\\uninstall.exe" /S || fail "the uninstaller failed"
# The uninstaller runs on from a copy of itself: the server ends with it.
"$wineserver" -w
[ ! -e "$installed" ] || fail "$installed is still there: $(ls "$installed")"
[ ! -e "$menu" ] || fail "the Start menu entries are still there"
if run reg query "$key" >/dev/null 2>&1; then fail "$key is still there"; fi
# What stays is the user's: the settings file (and the call log on drive C).
[ "$(ls -A "$settings")" = test.ini ] || fail "more than the settings in $settings: $(ls -A "$settings")"
finish
echo "$NAME: passed in $((SECONDS - started)) s ($(du -h "$setup" | cut -f1) installer)"
