#!/usr/bin/env bash
# The Windows program itself under wine64, end to end, on a private X server
# with a window manager: vantelo.exe from scripts/build-windows.sh is copied
# into a folder of wine's drive C and started there; its dialer window comes
# up with its caption and its controls take keys and clicks; the tray icon
# shows in wine's own tray window; Options, Details and About open and close;
# Close ends the program, which leaves the login typed and the automatic
# connection's setting in test.ini beside the program, written by the system's
# private-profile calls. vantelo-line.exe lists the dial-up entries and
# answers for the line. A screenshot of each window is kept.
#
# wine's prefix is private to the build folder (BUILD/wine), made once with
# `wineboot -i` and kept; its wineserver is ended at the end.
#
# Usage: scripts/check-windows-program.sh [BUILD]   (default: build-windows)
#   BUILD/bin holds the programs; the screenshots and logs go to
#   BUILD/wine-artifacts.
# Exits non-zero when a step fails, naming it.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
NAME=check-windows-program
# shellcheck source=tests/e2e/x_session.sh
. "$root/tests/e2e/x_session.sh"
# shellcheck source=scripts/wine-prefix.sh
. "$root/scripts/wine-prefix.sh"

build=${1:-build-windows}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "$NAME: FAIL: no build folder $1"; exit 1; }
bin=$build/bin
[ -f "$bin/vantelo.exe" ] || { echo "$NAME: FAIL: no $bin/vantelo.exe (scripts/build-windows.sh)"; exit 1; }

require_programs Xvfb openbox xdotool xwininfo xprop import

use_artifacts_folder "$build/wine-artifacts" wine.log vantelo-line.log
started=$SECONDS

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-wine-program.XXXXXX") || exit 1

finish() {
    [ -z "${wineserver:-}" ] || "$wineserver" -k 2>/dev/null
    end_started_processes
    rm -rf "$WORK"
}
fail() {
    log "FAIL: step $STEP_NO ($STEP): $*"
    [ -z "${DISPLAY:-}" ] || import -window root "$ART/failure.png" 2>/dev/null
    [ ! -s "$ART/wine.log" ] || { log "wine's output:"; tail -n 20 "$ART/wine.log"; }
    finish
    exit 1
}

step "wine's prefix"
find_wine
use_wine_prefix "$build"

step "the program's folder on drive C"
app=$drive_c/Vantelo
rm -rf "$app" "$drive_c/ilog.log"
cp -r "$bin" "$app" || fail "cannot copy $bin to $app"
# The test line's rasapi32.dll beside the programs, chosen over wine's.
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Werror -Wold-style-cast -O1 \
    -shared -static -I"$root/src" "$root/tests/windows/rasapi32/rasapi32.cpp" \
    -o "$app/rasapi32.dll" >"$WORK/rasapi32.log" 2>&1 ||
    { cat "$WORK/rasapi32.log"; fail "the test line's rasapi32.dll does not build"; }
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rasapi32=n"
# Every call the programs import from rasapi32 is one the test line serves.
exports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sort -u; }
imports() { x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { dll = tolower($3) }
    dll == "rasapi32.dll" && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print $3 }' | sort -u; }
served=$(exports "$app/rasapi32.dll")
for exe in vantelo.exe vantelo-line.exe; do
    unserved=$(comm -23 <(imports "$app/$exe") <(echo "$served"))
    [ -z "$unserved" ] || fail "$exe calls what the test line does not serve: $unserved"
    [ -n "$(imports "$app/$exe")" ] || fail "$exe imports nothing from rasapi32.dll"
done

step "X server and window manager"
start_x_server
start_window_manager

# ---- helpers --------------------------------------------------------------
program_running() { kill -0 "$VANTELO_PID" 2>/dev/null || fail "vantelo.exe ended"; }
WAIT_GUARD=""
# The one visible window titled exactly TITLE.
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_named "$1")" ]; }
window_gone() { [ -z "$(window_named "$1")" ]; }
# shot WINDOW FILE: the window's picture, as the screen shows it.
shot() { import -window "$1" "$ART/$2" 2>/dev/null || fail "no screenshot of window $1"; }
# click WINDOW X Y: a left click at the window's X, Y (client pixels).
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1 || fail "cannot click in window $1"
    sleep 0.3
}
# The controls' places are the program's own, in twips (15 to a pixel).
px() { echo $(($1 / 15)); }
dialer_title="Vantelo - BETA VERSION"

# key WINDOW KEYS...: keys typed into the window, once it has the focus.
key() {
    local w=$1
    shift
    xdotool windowfocus --sync "$w" key --delay 50 "$@" || fail "cannot type into window $w"
    sleep 0.3
}
type_into() { # WINDOW X Y TEXT: a click into the box at X, Y, then TEXT
    click "$1" "$2" "$3"
    xdotool type --delay 50 "$4" || fail "cannot type into window $1"
}
# open_and_close TITLE FILE OPENER... CLOSE-KEYS: the window TITLE opened by
# the command OPENER, its screenshot kept as FILE, closed by CLOSE-KEYS.
wait_shown() { wait_until 20 "window \"$1\"" window_shown "$1"; }
wait_gone() { wait_until 20 "end of window \"$1\"" window_gone "$1"; }
file_has() { [ -f "$1" ] && grep -q -- "$2" "$1"; }

dialer_title="Vantelo - BETA VERSION"

step "vantelo-line.exe on the test line"
line_tool() { # EXPECTED-STATUS ARGS...: the line tool's run, logged
    local want=$1 rc
    shift
    echo "\$ vantelo-line.exe $*" >>"$ART/vantelo-line.log"
    (cd "$app" && timeout 60 "$wine" "$app/vantelo-line.exe" "$@") >>"$ART/vantelo-line.log" 2>&1
    rc=$?
    echo "(exit status $rc)" >>"$ART/vantelo-line.log"
    [ "$rc" = "$want" ] || fail "vantelo-line.exe $* ended with $rc, not $want (see $ART/vantelo-line.log)"
}
line_tool 0 --version
file_has "$ART/vantelo-line.log" "vantelo-line [0-9]" || fail "no version from vantelo-line.exe --version"
line_tool 0 list
file_has "$ART/vantelo-line.log" "Vantelo Demo" || fail "vantelo-line.exe list names no Vantelo Demo"
line_tool 0 dial "Vantelo Demo" --user demo --password demo --number 0860 --wait
line_tool 1 dial "Vantelo Demo" --user demo --password wrong --number 0860 --wait
file_has "$ART/vantelo-line.log" "691" || fail "a refused login is not reported as error 691"
# The simulated line's controls are Linux's alone: on Windows they fail.
line_tool 1 drop

step "the dialer window comes up"
(cd "$app" && exec "$wine" "$app/vantelo.exe" >"$ART/wine.log" 2>&1) &
VANTELO_PID=$!
PIDS+=("$VANTELO_PID")
WAIT_GUARD=program_running
WAIT_POLL_SECONDS=0.2
wait_until 90 "window \"$dialer_title\"" window_shown "$dialer_title"
dialer=$(window_named "$dialer_title")
log "dialer window $dialer, $(xwininfo -id "$dialer" | sed -n 's/^ *Width: //p;s/^ *Height: //p' | paste -sd x) pixels"
sleep 1
shot "$dialer" dialer.png

step "the tray icon in wine's tray"
# wine's tray window is shown while it holds an icon.
wait_shown "Wine System Tray"
tray=$(window_named "Wine System Tray")
shot "$tray" tray.png
colours=$(convert "$ART/tray.png" -format '%k' info: 2>/dev/null || echo 0)
[ "$colours" -ge 8 ] || fail "wine's tray shows no icon (the picture has $colours colours)"
# The icon's place: the tray's first, a small icon at its left end.
icon_x=10
icon_y=10

step "the call log in wine's drive C"
# The log is rewritten every second from the start.
wait_until 20 "c:\\ilog.log" file_has "$drive_c/ilog.log" "Date"

step "Options opens and closes"
click "$dialer" $(($(px 2640) + 40)) $(($(px 4440) + 12))
wait_shown "Options..."
shot "$(window_named "Options...")" options.png
key "$(window_named "Options...")" Escape
wait_gone "Options..."

step "About opens and closes"
click "$dialer" $(($(px 4560) + 20)) $(($(px 4440) + 12))
wait_shown "About Vantelo BETA"
shot "$(window_named "About Vantelo BETA")" about.png
key "$(window_named "About Vantelo BETA")" Return
wait_gone "About Vantelo BETA"

step "a dial on the test line"
# The boxes of the Information frame (at 1080 twips): Login, Password, No.
frame_top=1080
type_into "$dialer" $(($(px 1440) + 60)) $(($(px $((frame_top + 240))) + 10)) demo
type_into "$dialer" $(($(px 1440) + 60)) $(($(px $((frame_top + 600))) + 9)) demo
type_into "$dialer" $(($(px 1440) + 60)) $(($(px $((frame_top + 960))) + 10)) 0860
# Enregistrer: the login is kept in the settings file.
click "$dialer" $(($(px 1440) + 8)) $(($(px $((frame_top + 1320))) + 8))
shot "$dialer" dialer-typed.png
click "$dialer" $(($(px 0) + 40)) $(($(px 4440) + 12))
# Connected, the dialer goes into the tray; the call's speed is logged.
wait_until 30 "dialer hidden once connected" window_gone "$dialer_title"
wait_until 20 "the call's speed in c:\\ilog.log" file_has "$drive_c/ilog.log" 28800
shot "$tray" tray-connected.png

step "the tray menu"
xdotool mousemove --window "$tray" "$icon_x" "$icon_y" click 3 || fail "cannot click the tray icon"
menu_shown() { xdotool search --onlyvisible --class 'vantelo.exe' 2>/dev/null | grep -qvx "$dialer"; }
wait_until 10 "the tray menu" menu_shown
sleep 0.5
import -window root "$ART/tray-menu.png" 2>/dev/null
key "$tray" Escape

step "a second start shows Details"
# Connected, a second start hands over to the running one, which shows the
# connection's details.
(cd "$app" && timeout 60 "$wine" "$app/vantelo.exe" >>"$ART/wine.log" 2>&1) ||
    fail "the second start did not hand over to the running one"
wait_shown "Session"
details=$(window_named "Session")
sleep 1.5
shot "$details" details.png

step "Disconnect hangs up"
key "$details" alt+d
wait_gone "Session"

step "Close ends the program"
# A double click on the icon brings the dialer back.
xdotool mousemove --window "$tray" "$icon_x" "$icon_y" click --repeat 2 --delay 80 1 ||
    fail "cannot double-click the tray icon"
wait_shown "$dialer_title"
dialer=$(window_named "$dialer_title")
click "$dialer" $(($(px 1320) + 40)) $(($(px 4440) + 12))
program_ended() { ! kill -0 "$VANTELO_PID" 2>/dev/null; }
WAIT_GUARD=""
wait_until 30 "end of vantelo.exe" program_ended
wait "$VANTELO_PID"
rc=$?
[ "$rc" = 0 ] || fail "vantelo.exe ended with status $rc"
wait_until 10 "the tray icon's removal" window_gone "Wine System Tray"

step "the settings beside the program, the call in the log"
ini=$app/test.ini
file_has "$ini" "^\[INFO\]" || fail "no [INFO] section in $ini"
file_has "$ini" "^Login1=demo" || fail "the login typed is not in $ini"
file_has "$ini" "^AutoConnect=0" || fail "no AutoConnect=0 in $ini"
cp "$ini" "$ART/test.ini"
cp "$drive_c/ilog.log" "$ART/ilog.log"
# The header and the call's record, with CR LF line ends.
[ "$(wc -l <"$drive_c/ilog.log")" = 2 ] || fail "c:\\ilog.log is not a header and one record"
grep -q $'\r$' "$drive_c/ilog.log" || fail "c:\\ilog.log has no CR LF line ends"

finish
log "passed in $((SECONDS - started)) s; screenshots in $ART"
