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
NAME=check-windows-program
# shellcheck source=scripts/wine-session.sh
. "$(dirname "$0")/wine-session.sh"

build=${1:-build-windows}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "$NAME: FAIL: no build folder $1"; exit 1; }
bin=$build/bin
[ -f "$bin/vantelo.exe" ] || { echo "$NAME: FAIL: no $bin/vantelo.exe (scripts/build-windows.sh)"; exit 1; }

require_programs Xvfb openbox xdotool xwininfo xprop import

use_artifacts_folder "$build/wine-artifacts" wine.log vantelo-line.log
started=$SECONDS

make_wine_work

fail() {
    log "FAIL: step $STEP_NO ($STEP): $*"
    [ -z "${DISPLAY:-}" ] || import -window root "$ART/failure.png" 2>/dev/null
    [ ! -s "$ART/wine.log" ] || { log "wine's output:"; tail -n 20 "$ART/wine.log"; }
    # Where each of wine's processes stands, for a step that waited in vain.
    timeout 30 "$wine" winedbg --command "bt all" >"$ART/backtraces.txt" 2>&1
    log "wine's processes and their threads: $ART/backtraces.txt"
    end_wine_session
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
# shot WINDOW FILE: the window's picture, as the screen shows it.
shot() { import -window "$1" "$ART/$2" 2>/dev/null || fail "no screenshot of window $1"; }
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

# The test line's phonebook, where Windows keeps the user's: one entry whose
# far end accepts demo/demo, quick stages, and the outcome and drop asked for.
# (Asked with the X server's DISPLAY: the wine desktop these calls start is
# the one the program's windows later go to.)
appdata=$("$wine" cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
[ -n "$appdata" ] || fail "no %APPDATA% in wine's prefix"
appdata=$("$wine" winepath -u "$appdata" 2>/dev/null)
[ -d "$appdata" ] || fail "no folder for %APPDATA%"
pbk=$appdata/Microsoft/Network/Connections/Pbk/rasphone.pbk
mkdir -p "$(dirname "$pbk")"
write_phonebook() { # OUTCOME DROP-AFTER-SECONDS
    printf '[Vantelo Demo]\r\nPhoneNumber=0860\r\nSimUser=demo\r\nSimPassword=demo\r\nSimStageMs=200\r\nSimOutcome=%s\r\nSimDropAfterSec=%s\r\n' \
        "$1" "$2" >"$pbk"
}
write_phonebook connect 0

# What the program's windows show, as it writes it down (VANTELO_TRACE).
trace=$drive_c/vantelo-shown.txt
rm -f "$trace"
# Its lines end as Windows' text files do, in CR LF.
trace_lines() { tr -d '\r' <"$trace" 2>/dev/null; }
trace_mark() { mark=$(trace_lines | wc -l); }
# shown_since_mark PATTERN: a line written since the mark matches PATTERN.
shown_since_mark() { trace_lines | tail -n +"$((mark + 1))" | grep -q -- "$1"; }
wait_shown_text() { # SECONDS WHAT PATTERN
    wait_until "$1" "$2" shown_since_mark "$3"
}

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
write_phonebook busy 0
line_tool 1 dial "Vantelo Demo" --user demo --password demo --number 0860 --wait
file_has "$ART/vantelo-line.log" "676" || fail "a busy line is not reported as error 676"
write_phonebook connect 0
# The simulated line's controls are Linux's alone: on Windows they fail.
line_tool 1 drop

step "the dialer window comes up"
# A redial period of 2 s, so that the redial after a drop comes soon.
printf '[GENERAL]\r\nTest=2\r\n' >"$app/test.ini"
(cd "$app" && VANTELO_TRACE='C:\vantelo-shown.txt' exec "$wine" "$app/vantelo.exe" >"$ART/wine.log" 2>&1) &
VANTELO_PID=$!
PIDS+=("$VANTELO_PID")
WAIT_GUARD=program_running
WAIT_POLL_SECONDS=0.2
# The first start in a new prefix takes longest: wine gathers the fonts.
wait_until 180 "window \"$dialer_title\"" window_shown "$dialer_title"
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

step "a refused password"
# The boxes of the Information frame (at 1080 twips): Login, Password, No.
frame_top=1080
login_at=("$dialer" $(($(px 1440) + 60)) $(($(px $((frame_top + 240))) + 10)))
password_at=("$dialer" $(($(px 1440) + 60)) $(($(px $((frame_top + 600))) + 9)))
number_at=("$dialer" $(($(px 1440) + 60)) $(($(px $((frame_top + 960))) + 10)))
connect_at=("$dialer" $(($(px 0) + 40)) $(($(px 4440) + 12)))
# While a call is listed, Close reads Cancel and ends it.
cancel_at=("$dialer" $(($(px 1320) + 40)) $(($(px 4440) + 12)))
type_into "${login_at[@]}" demo
type_into "${password_at[@]}" wrong
type_into "${number_at[@]}" 0860
trace_mark
click "${connect_at[@]}"
wait_shown_text 20 "the refusal's words" "^frmdial.status: Access was denied"
shot "$dialer" dialer-refused.png
# Cancel ends the failed call; the password is typed again.
click "${cancel_at[@]}"
click "${password_at[@]}"
key "$dialer" ctrl+a BackSpace
xdotool type --delay 50 demo || fail "cannot type the password"

step "a busy line"
write_phonebook busy 0
trace_mark
click "${connect_at[@]}"
wait_shown_text 20 "the busy line's words" "^frmdial.status: The phone number you are trying to reach is busy"
shot "$dialer" dialer-busy.png
click "${cancel_at[@]}"

step "a dial, hidden in the tray with the clock in its tip"
# The line drops 4 s after it connects; Auto connect redials it.
write_phonebook connect 4
# Enregistrer keeps the login in the settings file; Auto connect redials.
click "$dialer" $(($(px 1440) + 8)) $(($(px $((frame_top + 1320))) + 8))
click "$dialer" $(($(px 2880) + 8)) $(($(px $((frame_top + 1320))) + 8))
shot "$dialer" dialer-typed.png
trace_mark
click "${connect_at[@]}"
wait_until 30 "dialer hidden once connected" window_gone "$dialer_title"
wait_shown_text 20 "the session's clock in the tray tip" "^tray.tip: Vantelo BETA - Connected.*00:00:0[1-9]"
shot "$tray" tray-connected.png

step "a drop is redialed"
# Once dropped, the next call stays up.
write_phonebook connect 0
wait_shown_text 30 "the drop in the tray tip" "^tray.tip: Vantelo BETA - Disconnected"
mark=$(trace_lines | grep -n '^tray.tip: Vantelo BETA - Disconnected' | tail -n 1 | cut -d: -f1)
wait_shown_text 60 "a new call's clock after the redial" "^tray.tip: Vantelo BETA - Connected.*00:00:0[1-9]"
wait_until 20 "the call's speed in c:\\ilog.log" file_has "$drive_c/ilog.log" 28800
cp "$drive_c/ilog.log" "$ART/ilog-connected.log"

step "a second start shows Details"
# Connected, a second start hands over to the running one, which shows the
# connection's details.
trace_mark
(cd "$app" && timeout 60 "$wine" "$app/vantelo.exe" >>"$ART/wine.log" 2>&1) ||
    fail "the second start did not hand over to the running one"
wait_shown "Session"
details=$(window_named "Session")
# The speed and the byte counters, read through the statistics the program
# asks the service for, as they grow.
# (A label is written down when its text changes: the speed, once.)
last_shown() { trace_lines | grep "^$1: " | tail -n 1 | sed "s/^$1: //"; }
speed_shown() { [ "$(last_shown frmset.l1)" = 28800 ]; }
wait_until 10 "the line's speed in Details" speed_shown
received_counts() { trace_lines | tail -n +"$((mark + 1))" | grep -c '^frmset.lblRecv: [1-9][0-9]*$'; }
counters_grow() { [ "$(received_counts)" -ge 2 ]; }
wait_until 10 "the bytes received growing" counters_grow
shot "$details" details.png

step "Disconnect hangs up"
key "$details" alt+d
wait_gone "Session"

step "asked to end, the program ends"
# wine's tray shows the icon and its tip, but passes no click on it to the
# program, so the dialer cannot be brought back from there to press Close;
# the system's request to end (taskkill, the window's WM_CLOSE) ends it the
# same way, the settings saved and the icon removed.
"$wine" taskkill /im vantelo.exe >>"$ART/wine.log" 2>&1 || fail "taskkill did not reach vantelo.exe"
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
file_has "$ini" "^AutoConnect=1" || fail "Auto connect ticked, but no AutoConnect=1 in $ini"
cp "$ini" "$ART/test.ini"
cp "$drive_c/ilog.log" "$ART/ilog.log"
# The header and the latest call's record, with CR LF line ends.
[ "$(wc -l <"$drive_c/ilog.log")" = 2 ] || fail "c:\\ilog.log is not a header and one record"
grep -q $'\r$' "$drive_c/ilog.log" || fail "c:\\ilog.log has no CR LF line ends"

end_wine_session
log "passed in $((SECONDS - started)) s; screenshots in $ART"
