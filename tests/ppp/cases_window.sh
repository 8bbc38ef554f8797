#!/bin/bash
# The vantelo window on the real modem line, run inside the guest by
# guest_init.sh: an X server (Xvfb), a window manager (openbox), our tray host
# on a private session bus, and vantelo itself, driven only from outside with
# xdotool as a user would: type login, password and number, press
# "Connecter", follow the status words up to "Connected.", see the window
# hide, watch the details window's byte counters move while traffic flows
# over ppp0, hang up from the tray menu and find the line down. Then, with
# "Auto connect" ticked and a wrong password, the ISP's refusal: no second
# dial reaches the modem over several redial periods, until the password is
# corrected.
#
# The status words are read from the tray tip (the status line and the
# session clock), as the tray shows them; screenshots of every step go to
# ART. Places in the windows are in pixels of their client areas (15 twips
# each), as tests/e2e/dial_tray_quit.sh uses them.
#
# Environment: ART, PPP_DIR, VANTELO, LINE_TOOL, EMULATOR, TRAY_HOST, and the
# HOME and XDG folders that guest_init.sh made on the guest's tmpfs.

# Cases and checks run through run_case and wait_until; "A && B || fail"
# fails when either A or B does; eval'd conditions are quoted on purpose.
# shellcheck disable=SC2317,SC2015,SC2016

# shellcheck source=guest_lib.sh
. "$PPP_DIR/guest_lib.sh"

export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORMTHEME
DIALER_TITLE='Vantelo - BETA VERSION'
ENTRY="ISP Modem"
NUMBER=0860
DESKTOP=$RUN/desktop # what the desktop case leaves for the others
REDIAL_SECONDS=1
write_modem_entry "$ENTRY"

# The desktop is the lab user's: the X server, the window manager, the
# session bus, the tray host and vantelo run as that user; the cases look
# at them from outside, as root.
line_tool() { (as_user timeout 10 "$LINE_TOOL" "$@"); }
gdbus() { (as_user gdbus "$@"); }

# The desktop's programs live across the cases; they end with the script.
desktop_pids=$RUN/desktop.pids
end_desktop()
{
    local pid
    line_tool hangup >/dev/null 2>&1
    [ -f "$desktop_pids" ] || return
    for pid in $(tac "$desktop_pids"); do kill -TERM "$pid" 2>/dev/null; done
    sleep 0.3
    for pid in $(tac "$desktop_pids"); do kill -KILL "$pid" 2>/dev/null; done
}
trap end_desktop EXIT

shot()
{
    import -window root "$ART/$1.png" 2>>"$RUN/import.log" || fail "cannot take the screenshot $1"
    log "screenshot $1.png"
}

visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
dialer_visible() { [ -n "$(visible_window "$DIALER_TITLE")" ]; }
dialer_hidden() { ! dialer_visible; }

tray_item()
{
    local line
    line=$(grep '^registered ' "$RUN/tray_host.out" 2>/dev/null | tail -n 1)
    [ -n "$line" ] || return 1
    ITEM_BUS=$(cut -d' ' -f2 <<<"$line")
    ITEM_PATH=$(cut -d' ' -f3 <<<"$line")
}

# The tray tip's title: "Vantelo BETA - " status line, session clock.
tray_tip()
{
    gdbus call --session --dest "$ITEM_BUS" --object-path "$ITEM_PATH" \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip \
        2>>"$RUN/gdbus.log" |
        sed -n "s/.*, '\([^']*\)', '[^']*')>,)\$/\1/p"
}

# The program's pop-up menu: a visible override-redirect window of vantelo
# that is neither the dialer nor the details window.
popup_shown()
{
    local w name
    for w in $(xdotool search --onlyvisible --pid "$VANTELO_PID" 2>/dev/null); do
        name=$(xdotool getwindowname "$w" 2>/dev/null)
        [ "$name" = "$DIALER_TITLE" ] || [ "$name" = Session ] && continue
        xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: *yes' && return 0
    done
    return 1
}

# tray_menu DOWNS: a right click on the tray icon, then DOWNS presses of the
# Down key and Return. Items: &Principal, &Deconnecter, -, &Options,
# &Details de la connexion, -, A Propos, -, &Quitter, Q&uitter et Deconnecte;
# the separators are skipped.
tray_menu()
{
    local downs=$1 name=$2 keys=()
    xdotool mousemove 600 200
    gdbus call --session --dest "$ITEM_BUS" --object-path "$ITEM_PATH" \
        --method org.kde.StatusNotifierItem.ContextMenu 600 200 >/dev/null 2>>"$RUN/gdbus.log" ||
        fail "the tray item does not answer ContextMenu"
    wait_until 5 "tray menu" popup_shown
    for ((i = 0; i < downs; i++)); do keys+=(Down); done
    xdotool key --delay 60 "${keys[@]}"
    shot "$name"
    xdotool key Return
}

# ---- the cases ----

case_desktop()
{
    local t0 t_x
    t0=$(now_ms)
    # No program of the desktop may read the guest's console: one that tried
    # would be stopped there, with the dialer's window waiting on it.
    # The session bus of the user's desktop, where the tray host and vantelo meet.
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
    as_user dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
        >"$RUN/dbus.log" 2>&1 </dev/null &
    echo $! >>"$desktop_pids"
    wait_until 10 "session bus at $DBUS_SESSION_BUS_ADDRESS" test -S "$XDG_RUNTIME_DIR/bus"
    as_user Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$RUN/display" 2>"$RUN/xvfb.log" </dev/null &
    echo $! >>"$desktop_pids"
    wait_until 20 "display number from Xvfb" test -s "$RUN/display"
    DISPLAY=":$(head -n 1 "$RUN/display")"
    export DISPLAY
    wait_until 20 "X server answering on $DISPLAY" eval 'xdotool getdisplaygeometry >/dev/null 2>&1'
    t_x=$(since "$t0")
    as_user openbox --sm-disable >"$RUN/openbox.log" 2>&1 </dev/null &
    OPENBOX_PID=$!
    echo $! >>"$desktop_pids"
    wait_until 10 "window manager" eval "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'"
    # openbox names itself before it has finished starting, and in the guest a
    # window mapped in between can stay unmanaged for good. A small probe
    # window shows when it manages new windows: one not managed within 5 s is
    # ended and another tried.
    local probe probes=0 managed=""
    # (xlogo sets no _NET_WM_PID: it is found by its class.)
    probe_managed()
    {
        local w
        for w in $(xdotool search --class xlogo 2>/dev/null); do
            xprop -id "$w" WM_STATE 2>/dev/null | grep -q 'window state' && return 0
        done
        return 1
    }
    while [ -z "$managed" ] && [ "$probes" -lt 4 ]; do
        probes=$((probes + 1))
        xlogo -geometry 40x40+0+0 </dev/null >/dev/null 2>&1 &
        probe=$!
        for _ in $(seq 50); do
            probe_managed && { managed=yes; break; }
            sleep 0.1
        done
        kill "$probe" 2>/dev/null
        wait "$probe" 2>/dev/null
    done
    [ -n "$managed" ] || fail "openbox managed none of $probes probe windows"
    [ "$probes" -gt 1 ] && note "openbox managed the probe window at attempt $probes;"
    as_user "$TRAY_HOST" >"$RUN/tray_host.out" 2>&1 </dev/null &
    echo $! >>"$desktop_pids"
    wait_until 10 "tray host" grep -qs '^ready$' "$RUN/tray_host.out"

    vantelo_window()
    {
        kill -0 "$VANTELO_PID" 2>/dev/null || fail "vantelo ended: $(tail -n 5 "$RUN/vantelo.err")"
        local w
        SEEN="vantelo $(tr -d '\0' </proc/"$VANTELO_PID"/wchan) $(grep State /proc/"$VANTELO_PID"/status);"
        SEEN+=" openbox $(grep State /proc/"$OPENBOX_PID"/status 2>/dev/null || echo gone);"
        for w in $(xdotool search --pid "$VANTELO_PID" 2>/dev/null); do
            SEEN+=" window $w \"$(xdotool getwindowname "$w" 2>/dev/null)\""
            SEEN+=" $(xwininfo -id "$w" 2>/dev/null | grep -o 'Map State: [A-Za-z]*')"
            SEEN+=" $(xprop -id "$w" WM_STATE _NET_WM_STATE 2>/dev/null | tr '\n' ' ')"
        done
        dialer_visible
    }
    # A redial check every second, so that the refused-login case sees
    # several redial periods quickly ("Auto connect" stays off until then).
    local config
    config=$(user_home "$LAB_USER")/.config/vantelo
    printf '[GENERAL]\nTest=%s\n' "$REDIAL_SECONDS" | (as_user tee "$config/test.ini" >/dev/null) ||
        fail "cannot write the settings file"
    local t1
    t1=$(now_ms)
    as_user "$VANTELO" >"$RUN/vantelo.out" 2>"$RUN/vantelo.err" </dev/null &
    VANTELO_PID=$!
    echo "$VANTELO_PID" >>"$desktop_pids"
    echo "$VANTELO_PID" >"$RUN/vantelo.pid"
    wait_until 40 "dialer window \"$DIALER_TITLE\"" vantelo_window
    wait_until 10 "tray icon registered with the tray host" tray_item
    note "X in ${t_x}s, dialer window $(since "$t1")s after vantelo started;"
    shot 01-dialer
    cat >"$DESKTOP" <<EOF
export DISPLAY=$DISPLAY
export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
VANTELO_PID=$VANTELO_PID
WIN=$(visible_window "$DIALER_TITLE")
ITEM_BUS=$ITEM_BUS
ITEM_PATH=$ITEM_PATH
EOF
}

# Words the status line may show between "Connecter" and "Connected.".
dial_word()
{
    case $1 in
    "Attempting to establish a connection..." | "Opening port for connection..." | \
        "Dialing $NUMBER ..." | "Dialing P$NUMBER ..." | "Verifying username and password..." | \
        "Logon successful." | "Connected.") return 0 ;;
    esac
    return 1
}

case_dial_and_hang_up()
{
    # shellcheck source=/dev/null
    . "$DESKTOP"
    start_modem require-pap

    local t0
    t0=$(now_ms)
    xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus --sync "$WIN"
    click_at() { xdotool mousemove --window "$WIN" "$1" "$2" click 1 || fail "cannot click at $1,$2"; sleep 0.15; }
    type_text() { xdotool type --delay 30 "$1" || fail "cannot type \"$1\""; }
    click_at 180 98 # login
    type_text "$ACCOUNT"
    click_at 180 121 # password
    type_text "$PASSWORD"
    click_at 180 146 # number
    type_text "$NUMBER"
    shot 02-filled-in
    note "typed in $(since "$t0")s;"

    # The tray tip follows the status line once a second. With every field
    # filled in, the status line asks for "Connecter"; only then is it clicked,
    # and every word the tip shows after that belongs to the call.
    local words=() last="" status n=3
    tip_status()
    {
        [[ $(tray_tip) =~ ^Vantelo\ BETA\ -\ (.*)[0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] || return 1
        status=${BASH_REMATCH[1]}
        SEEN=$status
    }
    ready_to_dial() { tip_status && [ "$status" = "Press Connect to begin dialing..." ]; }
    wait_until 5 "\"Press Connect to begin dialing...\" in the status line" ready_to_dial
    last=$status

    # "Connecter", then the status words as the tray tip shows them, a
    # screenshot at each new one.
    t0=$(now_ms)
    click_at 40 308
    status_reaches_connected()
    {
        kill -0 "$VANTELO_PID" 2>/dev/null || fail "vantelo ended"
        tip_status || return 1
        if [ "$status" != "$last" ]; then
            last=$status
            words+=("$status")
            log "status: $status"
            dial_word "$status" || fail "the status line says \"$status\" while dialing"
            shot "$(printf '%02d' "$n")-status-${status%%[ .]*}"
            n=$((n + 1))
        fi
        SEEN=$status
        [ "$status" = Connected. ]
    }
    wait_until 30 "\"Connected.\" in the status line" status_reaches_connected
    note "connected in $(since "$t0")s ($(IFS='|'; echo "${words[*]}"));"

    CALL=$(line_tool status --json | jq -c '.connections[0]')
    [ "$(jq -r .kind <<<"$CALL")/$(jq -r .state <<<"$CALL")/$(jq -r .speed <<<"$CALL")" = modem/Connected/28800 ] ||
        fail "the line does not show the modem call up at 28800: $CALL"
    [ -n "$(if_addr ppp0)" ] || fail "no address on ppp0"
    local isp
    isp=$(isp_pid)

    t0=$(now_ms)
    wait_until 5 "hidden dialer window" dialer_hidden
    note "window hidden $(since "$t0")s later;"
    shot 10-connected-window-hidden

    # The details window; its counters in the "Session" frame: bytes sent at
    # (152, 96), received at (152, 120), 153 x 13 pixels each.
    tray_menu 4 11-tray-menu-details
    wait_until 5 "\"Session\" window" eval '[ -n "$(visible_window Session)" ]'
    local session
    session=$(visible_window Session)
    counters() { import -window "$session" -crop 153x37+152+96 +repage "$1" 2>>"$RUN/import.log"; }
    counters "$RUN/counters-before.png" || fail "cannot take the counters' picture"
    shot 12-details
    local sent0
    sent0=$(line_tool status --json | jq .connections[0].bytesSent)
    ping_isp 5
    counters_moved()
    {
        counters "$RUN/counters-after.png" || return 1
        local differ
        differ=$(compare -metric AE "$RUN/counters-before.png" "$RUN/counters-after.png" null: 2>&1)
        SEEN="$differ pixels differ"
        [[ $differ =~ ^[0-9]+$ ]] && [ "$differ" -gt 0 ]
    }
    wait_until 5 "change in the details window's byte counters after 5 pings" counters_moved
    local sent1
    sent1=$(line_tool status --json | jq .connections[0].bytesSent)
    [ "$sent1" -ge $((sent0 + 5 * 84)) ] || fail "the line's bytesSent went from $sent0 to $sent1 for 5 pings"
    note "counters moved ($SEEN; line bytesSent $sent0 -> $sent1);"
    cp "$RUN/counters-before.png" "$ART/13-counters-before.png"
    cp "$RUN/counters-after.png" "$ART/14-counters-after.png"
    shot 15-details-after-pings

    # Hang up from the tray menu: &Deconnecter.
    t0=$(now_ms)
    tray_menu 2 16-tray-menu-disconnect
    line_down()
    {
        SEEN=$(line_tool status --json | jq -c .connections)
        [ "$SEEN" = "[]" ] && link_gone
    }
    wait_until 15 "line down after Deconnecter" line_down
    wait_until 5 "end of the ISP's pppd" eval "! kill -0 $isp 2>/dev/null"
    wait_until 5 "the modem back in command mode" grep -qx HANGUP "$RUN/modem.log"
    note "down $(since "$t0")s after Deconnecter"
    shot 17-hung-up
}

# The ISP refuses the login (a wrong password, error 691) with "Auto connect"
# ticked: after Cancel, several redial periods pass and the modem is never
# dialed again (ISPs lock accounts after repeated failures). The right password
# typed in lifts the pause: once it has stayed the same for a period it is
# dialed (never half typed), and the call connects.
case_refused_login_not_redialed()
{
    # shellcheck source=/dev/null
    . "$DESKTOP"
    start_modem require-pap
    dials() { grep -c '^CMD ATD' "$RUN/modem.log"; }
    # Back from the tray: "Principal".
    tray_menu 1 18-tray-menu-principal
    wait_until 5 "dialer window shown" dialer_visible
    xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus --sync "$WIN"
    click_at() { xdotool mousemove --window "$WIN" "$1" "$2" click 1 || fail "cannot click at $1,$2"; sleep 0.15; }
    set_password()
    {
        click_at 180 121
        xdotool key ctrl+a BackSpace && xdotool type --delay 30 "$1" || fail "cannot type the password"
    }
    set_password not-the-password
    click_at 200 168 # "Auto connect"
    shot 19-auto-connect-wrong-password
    local t0 tip
    t0=$(now_ms)
    click_at 40 308 # "Connecter"
    refused_shown()
    {
        tip=$(tray_tip)
        SEEN=$tip
        [[ $tip == "Vantelo BETA - Logging in: the ISP refused"* ]]
    }
    wait_until 30 "the refusal in the status line" refused_shown
    note "refused in $(since "$t0")s;"
    grep -q "PAP peer authentication failed for $ACCOUNT" "$RUN/isp.log" ||
        fail "the ISP did not refuse the password: $(tr '\n' '|' <"$RUN/isp.log")"
    shot 20-refused
    click_at 128 308 # "Cancel"
    wait_until 5 "the refused call hung up" eval '[ "$(line_tool status --json | jq ".connections | length")" = 0 ]'
    [ "$(dials)" = 1 ] || fail "the modem was dialed $(dials) times before the pause"
    # Five redial periods: not one dial more.
    sleep $((5 * REDIAL_SECONDS))
    [ "$(dials)" = 1 ] || fail "the refused login was dialed again: $(grep '^CMD ATD' "$RUN/modem.log" | tr '\n' ' ')"
    refused_shown || fail "the status line no longer shows the refusal: $tip"
    note "no redial in $((5 * REDIAL_SECONDS)) redial periods;"
    shot 21-no-redial

    t0=$(now_ms)
    set_password "$PASSWORD"
    wait_until 10 "a redial with the corrected password" eval '[ "$(dials)" = 2 ]'
    connected_again()
    {
        SEEN=$(line_tool status --json | jq -c '.connections[0]')
        [ "$(jq -r .state <<<"$SEEN")" = Connected ]
    }
    wait_until 30 "the redial connected" connected_again
    note "corrected password redialed and connected in $(since "$t0")s"
    shot 22-redialed
}

# The call's log and vantelo's own output join the case's logs.
after_window_case()
{
    cp "$XDG_RUNTIME_DIR/vantelo/modem.log" "$RUN/call.log" 2>/dev/null
    cp "$RUN/vantelo.err" "$RUN/vantelo-err.log" 2>/dev/null
    if [ -f "$RUN/reason" ]; then
        if [ -s "$RUN/display" ]; then
            DISPLAY=":$(head -n 1 "$RUN/display")" import -window root "$ART/failure.png" 2>/dev/null
        fi
        # Where vantelo is, when it is still there.
        local pid
        pid=$(cat "$RUN/vantelo.pid" 2>/dev/null)
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            timeout 30 gdb -batch -p "$pid" -ex 'thread apply all bt' >"$RUN/vantelo-backtrace.log" 2>&1
        fi
    fi
    line_tool hangup >/dev/null 2>&1
}
CASE_CLEANUP=after_window_case

run_case window-desktop case_desktop &&
    run_case window-dial case_dial_and_hang_up &&
    run_case window-refused case_refused_login_not_redialed
exit $FAILED
