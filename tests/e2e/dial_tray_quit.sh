#!/usr/bin/env bash
# A user's day with Vantelo, driven from outside the program:
#
#   start the dialer on a real X server with a window manager and a tray,
#   type login, password and number, tick "Enregistrer", press "Connecter",
#   watch the window hide and the tray tip follow the line and its clock,
#   open "&Details de la connexion" from the tray menu, then "&Quitter".
#
# Afterwards the call log, the settings file and the simulated line must say
# what the user did: one record at 28800 bit/s, the login stored, and the
# line still up (quitting without hanging up leaves it up).
#
# Usage: dial_tray_quit.sh VANTELO VANTELO_LINE TRAY_HOST ARTIFACTS_DIR
# Screenshots of every step go to ARTIFACTS_DIR. Needs Xvfb, openbox,
# xdotool, xprop, xwininfo, gdbus, dbus-run-session, ImageMagick's import and jq.

# The helpers below run through wait_until and traps, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

expect_arguments 4 "VANTELO VANTELO_LINE TRAY_HOST ARTIFACTS_DIR" "$@"

NAME=e2e_dial_tray_quit

# Everything runs in a fresh home and on a private session bus, so the tray
# host owns the watcher's name without meeting a desktop's, and nothing leaks
# out. The script first makes the home, then runs itself again on the bus.
require_programs dbus-run-session Xvfb openbox xdotool xprop xwininfo gdbus import jq
on_private_session_bus "$@"

VANTELO=$(realpath "$1")
LINE_TOOL=$(realpath "$2")
TRAY_HOST=$(realpath "$3")
use_artifacts_folder "$4" ilog.log test.ini

# A user's desktop session on the private bus, with fixed text formats so the
# call log reads the same on every machine.
x_desktop_environment own-session-bus

SETTINGS=$XDG_CONFIG_HOME/vantelo/test.ini
CALL_LOG=$XDG_DATA_HOME/vantelo/ilog.log

VANTELO_PID=""

trap end_session EXIT
trap 'fail "interrupted"' INT TERM

show_file()
{
    echo "----- $1 -----"
    if [ -f "$2" ]; then cat -A "$2" | head -40; else echo "(missing)"; fi
}

fail()
{
    echo
    log "FAILED at step $STEP_NO ($STEP): $*"
    failure_screenshot
    echo "----- vantelo stderr -----"
    cat "$WORK/vantelo.err" 2>/dev/null
    echo "----- vantelo stdout -----"
    cat "$WORK/vantelo.out" 2>/dev/null
    echo "----- tray host -----"
    cat "$WORK/tray_host.out" 2>/dev/null
    echo "----- vantelo-line status -----"
    "$LINE_TOOL" status 2>&1
    show_file "settings file" "$SETTINGS"
    show_file "call log" "$CALL_LOG"
    echo "----- openbox -----"
    tail -n 20 "$WORK/openbox.log" 2>/dev/null
    echo "----- Xvfb -----"
    tail -n 20 "$WORK/xvfb.log" 2>/dev/null
    log "artefacts: $ART"
    log "FAIL"
    exit 1
}

# Every wait checks that the program is still there, except while waiting
# for its end (WAIT_FOR_EXIT=1).
watch_vantelo_while_waiting

# ---- the line, the tray and the dialer window as seen from outside ----

tray_item()
{
    local line
    line=$(grep '^registered ' "$WORK/tray_host.out" | tail -n 1)
    [ -n "$line" ] || return 1
    ITEM_BUS=$(echo "$line" | cut -d' ' -f2)
    ITEM_PATH=$(echo "$line" | cut -d' ' -f3)
}

# The tip as the tray shows it: the title of the item's ToolTip property,
# (icon name, icon pixmaps, title, text).
tray_tip()
{
    gdbus call --session --dest "$ITEM_BUS" --object-path "$ITEM_PATH" \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip \
        2>>"$WORK/gdbus.err" |
        sed -n "s/.*, '\([^']*\)', '[^']*')>,)\$/\1/p"
}

TIP=""
tip_matches()
{
    TIP=$(tray_tip)
    [[ $TIP =~ $1 ]]
}

# A right click on the tray icon, as a tray host reports it.
tray_context_menu()
{
    gdbus call --session --dest "$ITEM_BUS" --object-path "$ITEM_PATH" \
        --method org.kde.StatusNotifierItem.ContextMenu "$1" "$2" >/dev/null 2>>"$WORK/gdbus.err"
}



# The program's pop-up menu: a visible window of the program that is neither
# the dialer nor the details window.
POPUP=""
popup_shown()
{
    local w name
    POPUP=""
    for w in $(xdotool search --onlyvisible --pid "$VANTELO_PID" 2>/dev/null); do
        name=$(xdotool getwindowname "$w" 2>/dev/null)
        [ "$name" = "$DIALER_TITLE" ] || [ "$name" = "Session" ] && continue
        [ "$(xwininfo_override "$w")" = yes ] || continue
        POPUP=$w
        return 0
    done
    return 1
}
popup_gone() { ! popup_shown; }

xwininfo_override() { xwininfo -id "$1" 2>/dev/null | sed -n 's/^ *Override Redirect State: *//p'; }

# The program's windows as X sees them: id, name, map state, override flag.
program_windows()
{
    local w
    for w in $(xdotool search --pid "$VANTELO_PID" 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null |
            awk -v w="$w" -v name="$(xdotool getwindowname "$w" 2>/dev/null)" '
                /Map State:/ { map = $3 } /Override Redirect State:/ { o = $4 }
                END { if (map != "IsUnmapped") printf "%s \"%s\" %s override=%s; ", w, name, map, o }'
    done
}

# Opens the tray menu at (x, y) of the screen and waits for it. A right click
# that shows no menu is logged with the program's windows and tried once more,
# as a user would click again; a second miss fails.
open_tray_menu()
{
    # The menu pops up at the mouse; keep the pointer on its corner, off the items.
    xdotool mousemove "$1" "$2"
    local try deadline
    for try in 1 2; do
        tray_context_menu "$1" "$2" || fail "the tray item does not answer ContextMenu"
        deadline=$(($(now_ms) + 4000))
        until popup_shown; do
            check_alive
            [ "$(now_ms)" -ge "$deadline" ] && break
            sleep "$WAIT_POLL_SECONDS"
        done
        if [ -n "$POPUP" ]; then
            log "  pop-up menu: window $POPUP"
            return 0
        fi
        log "  no pop-up menu within 4s of right click $try; the program's windows: $(program_windows)"
        tail -n 5 "$WORK/gdbus.err" 2>/dev/null
    done
    fail "no pop-up menu after two right clicks on the tray icon"
}

# ---- the run ----

step "X server"
start_x_server
log "  display $DISPLAY"

step "window manager"
start_window_manager

step "tray host"
"$TRAY_HOST" >"$WORK/tray_host.out" 2>&1 &
PIDS+=("$!")
host_ready() { grep -qs '^ready$' "$WORK/tray_host.out"; }
wait_until 10 "tray host" host_ready

step "phonebook with one quick entry"
write_demo_phonebook
line_has_no_call || fail "the line tool does not report an idle line: $(line_json)"

step "start vantelo"
start_vantelo
wait_until 10 "dialer window \"$DIALER_TITLE\"" dialer_visible
WIN=$(visible_window "$DIALER_TITLE")
wait_until 10 "tray icon registered with the tray host" tray_item
log "  tray item $ITEM_BUS $ITEM_PATH"
# Right after the start the tip is the title; the monitor's first tick, a
# second later, adds the status and the session clock, which stands still
# while no line is up.
wait_until 5 "idle tray tip from the monitor" tip_matches '^Vantelo BETA - .*00:00:00$'
log "  tray tip: \"$TIP\""
eval "$(xdotool getwindowgeometry --shell "$WIN")"
log "  dialer window at $X,$Y, client area ${WIDTH}x$HEIGHT"
if [ "$WIDTH" != 354 ] || [ "$HEIGHT" != 345 ]; then
    fail "the dialer's client area is ${WIDTH}x$HEIGHT, expected 354x345 (5310 x 5175 twips)"
fi
shot 01-started

# Places inside the client area, in pixels (15 twips each): the login rows sit
# in the "Information" frame at (0, 72).
click_at()
{
    xdotool mousemove --window "$WIN" "$1" "$2" click 1 || fail "cannot click at $1,$2"
    sleep 0.15
}
type_text() { xdotool type --delay 30 "$1" || fail "cannot type \"$1\""; }

step "type login, password and number; tick Enregistrer"
xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus --sync "$WIN"
click_at $((96 + 84)) $((72 + 16 + 10)) # login (Combo3)
type_text demo
click_at $((96 + 84)) $((72 + 40 + 9)) # password (Text1)
type_text demo
click_at $((96 + 84)) $((72 + 64 + 10)) # number (Combo2)
type_text 0860
click_at $((96 + 30)) $((72 + 88 + 8)) # "Enregistrer" (Check1)
shot 02-filled-in

step "press Connecter"
CLICK_TIME=$(date +%H:%M:%S)
click_at 40 $((296 + 12))
shot 03-dialing

step "the line connects"
wait_until 15 "connected line (vantelo-line status)" line_is Connected
CALL=$(line_json | jq -c '.connections[0]')
log "  call: $CALL"
# The entry's account is demo/demo, so a wrong password never connects.
[ "$(jq -r '.userName' <<<"$CALL")" = demo ] || fail "the line was dialed with another user name: $CALL"
[[ "$(jq -r '.phoneNumber' <<<"$CALL")" =~ ^P?0860$ ]] || fail "the line was dialed with another number: $CALL"
[ "$(jq -r '.entry' <<<"$CALL")" = "Vantelo Demo" ] || fail "another entry was dialed: $CALL"

step "the dialer window hides while the line is up"
wait_until 5 "hidden dialer window" dialer_hidden

step "the tray tip shows the status and a running session clock"
wait_until 5 "tray tip \"Vantelo BETA - Connected.hh:mm:ss\"" \
    tip_matches '^Vantelo BETA - Connected\.[0-9]{2}:[0-9]{2}:[0-9]{2}$'
FIRST_TIP=$TIP
log "  tray tip: \"$FIRST_TIP\""
clock_advanced()
{
    tip_matches '^Vantelo BETA - Connected\.[0-9]{2}:[0-9]{2}:[0-9]{2}$' && [[ $TIP > $FIRST_TIP ]]
}
wait_until 5 "the session clock in the tray tip to advance past ${FIRST_TIP##*.}" clock_advanced
log "  tray tip: \"$TIP\""
shot 04-connected-window-hidden

step "the tray item offers its menu to the host, in order, and Activate shows the dialer"
# Hosts that draw the menu themselves read it from the item's Menu property.
MENU_PATH=$(gdbus call --session --dest "$ITEM_BUS" --object-path "$ITEM_PATH" \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu \
    2>>"$WORK/gdbus.err" | sed -n "s/^(<objectpath '\([^']*\)'>,)\$/\1/p")
log "  menu: $MENU_PATH"
if [ -z "$MENU_PATH" ] || [ "$MENU_PATH" = /NO_DBUSMENU ]; then
    fail "the tray item publishes no menu (Menu is \"$MENU_PATH\")"
else
    gdbus call --session --dest "$ITEM_BUS" --object-path "$MENU_PATH" \
        --method com.canonical.dbusmenu.GetLayout 0 "int32 -1" "@as []" > "$WORK/layout" \
        2>>"$WORK/gdbus.err"
    LABELS=$(grep -oE "'(label': <'[^']*'|type': <'separator')" "$WORK/layout" |
        sed -E "s/^'type': <'separator'\$/-/; s/^'label': <'(.*)'\$/\1/; s/[_&]//" | paste -sd '|')
    log "  menu items: $LABELS"
    [ "$LABELS" = "Principal|Deconnecter|-|Options|Details de la connexion|-|A Propos|-|Quitter|Quitter et Deconnecte" ] ||
        fail "the tray menu's items: \"$LABELS\""
fi
# The host's Activate is its user's way of opening the program: the dialer
# shows (and, connected, goes back to the tray at the next tick).
gdbus call --session --dest "$ITEM_BUS" --object-path "$ITEM_PATH" \
    --method org.kde.StatusNotifierItem.Activate 600 200 >/dev/null 2>>"$WORK/gdbus.err" ||
    fail "the tray item does not answer Activate"
dialer_shown() { [ -n "$(visible_window "Vantelo - BETA VERSION")" ]; }
wait_until 5 "the dialer shown by Activate" dialer_shown
shot 04b-dialer-after-activate
wait_until 5 "the dialer back in the tray" dialer_hidden

step "tray menu: &Details de la connexion"
open_tray_menu 600 200
shot 05-tray-menu
# Items: &Principal, &Deconnecter, -, &Options, &Details de la connexion, ...
# Separators are skipped by the arrow keys.
xdotool key --delay 60 Down Down Down Down
shot 06-tray-menu-details-chosen
xdotool key Return
session_shown() { [ -n "$(visible_window Session)" ]; }
wait_until 5 "\"Session\" window" session_shown
wait_until 5 "pop-up menu to close" popup_gone
dialer_hidden || fail "the dialer window came back with the details window"
shot 07-session-window

step "tray menu: &Quitter"
open_tray_menu 600 200
# ..., &Details de la connexion, -, A Propos, -, &Quitter, Q&uitter et Deconnecte
xdotool key --delay 60 Down Down Down Down Down Down
shot 08-tray-menu-quit-chosen
QUIT_TIME=$(date +%H:%M:%S)
xdotool key Return
wait_for_vantelo_end 10
shot 09-after-quit
cp "$CALL_LOG" "$ART/ilog.log" 2>/dev/null
cp "$SETTINGS" "$ART/test.ini" 2>/dev/null

step "the call log holds the header and one record of the call"
[ -f "$CALL_LOG" ] || fail "no call log at $CALL_LOG"
HEADER='  Date  || Started At || Finished At|| Connection '
# The file as bytes, one line per CR LF; a bare LF or a missing final CR LF
# leaves a line that does not end in CR.
mapfile -t LINES <"$CALL_LOG"
[ ${#LINES[@]} -eq 2 ] || fail "the call log has ${#LINES[@]} lines, expected 2"
[ "$(tail -c 2 "$CALL_LOG" | od -An -tx1 | tr -d ' ')" = 0d0a ] ||
    fail "the call log does not end with CR LF"
[ "${LINES[0]}" = "$HEADER"$'\r' ] ||
    fail "the call log's header is \"${LINES[0]}\", expected \"$HEADER\" CR"
RECORD=${LINES[1]%$'\r'}
[ "${LINES[1]}" = "$RECORD"$'\r' ] || fail "the record line does not end with CR LF"
log "  record: \"$RECORD\""
# Fields in print zones of 14 columns: date, start, finish, connect speed.
[ ${#RECORD} -eq 47 ] || fail "the record line is ${#RECORD} characters, expected 42 + \"28800\""
for zone in 0 1 2; do
    field=${RECORD:zone*14:14}
    [[ $field =~ ^[^\ ].*[0-9].*\ $ ]] ||
        fail "zone $((zone + 1)) of the record, \"$field\", is not a value padded with blanks"
done
# Times of day in seconds; the program writes them in the C locale's hh:mm:ss.
seconds_of_day()
{
    local t=${1%% *}
    [[ $t =~ ^([0-9]{1,2}):([0-9]{2}):([0-9]{2})$ ]] || return 1
    echo $((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}))
}
# How many seconds $2 lies after $1, across midnight too.
seconds_after() { echo $((($2 - $1 + 86400) % 86400)); }
STARTED=$(seconds_of_day "${RECORD:14:14}") || fail "\"Started At\" is not a time: \"${RECORD:14:14}\""
FINISHED=$(seconds_of_day "${RECORD:28:14}") || fail "\"Finished At\" is not a time: \"${RECORD:28:14}\""
# The start is taken when the line comes up, not when the program started
# (seconds before the click); the finish follows the clock until the quit
# (the last write is the quit's own or a tick at most a second before it).
[ "$(seconds_after "$(seconds_of_day "$CLICK_TIME")" "$STARTED")" -le 10 ] ||
    fail "\"Started At\" ${RECORD:14:14} is not the time of the connection (Connecter pressed at $CLICK_TIME)"
[ "$(seconds_after "$(($(seconds_of_day "$QUIT_TIME") - 1))" "$FINISHED")" -le 6 ] ||
    fail "\"Finished At\" ${RECORD:28:14} is not the time of the quit ($QUIT_TIME)"
[ "${RECORD:42}" = 28800 ] || fail "the connection zone is \"${RECORD:42}\", expected \"28800\""

step "the settings file stores the login"
[ -f "$SETTINGS" ] || fail "no settings file at $SETTINGS"
info_value()
{
    awk -v key="$1" '
        /^\[/ { info = (tolower($0) == "[info]") ; next }
        info { i = index($0, "="); if (i && tolower(substr($0, 1, i - 1)) == tolower(key)) { print substr($0, i + 1); exit } }
    ' <(tr -d '\r' <"$SETTINGS")
}
for pair in Login1=demo Numero1=0860 Password1=demo AutoConnect=0; do
    key=${pair%%=*}
    want=${pair#*=}
    got=$(info_value "$key")
    [ "$got" = "$want" ] || fail "INFO $key is \"$got\", expected \"$want\""
done

step "the line stays up after &Quitter, then hangs up"
line_is Connected || fail "the line is not up after quitting: $(line_json)"
"$LINE_TOOL" hangup >"$WORK/hangup.out" 2>&1 || fail "vantelo-line hangup failed: $(cat "$WORK/hangup.out")"
wait_until 5 "the line to close" line_has_no_call

log "artefacts: $ART"
log "PASS ($STEP_NO steps; tray tip \"$TIP\"; record \"$RECORD\")"
exit 0
