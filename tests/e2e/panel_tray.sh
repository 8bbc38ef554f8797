#!/usr/bin/env bash
# Vantelo's tray icon on a real desktop panel, driven only by X input on the
# panel's icon as a user would:
#
#   the panel starts (or not), Vantelo starts and connects on its own (the
#   settings say AutoConnect=1), the icon is found on screen by the pixels it
#   adds to the panel, its tip shows when the pointer rests on it, a click (a
#   double click on an XEmbed tray) shows the dialer, and a right click opens
#   the menu whose entries each do what they say: "Details de la connexion",
#   "Options" and "A Propos" open their windows, "Principal" shows the dialer,
#   "Deconnecter" hangs up, "Quitter" ends Vantelo.
#
# HOST is the panel:
#   xfce4-panel       Xfce's panel with its notification area plugin (systray)
#   lxqt-panel        LXQt's panel with its status notifier plugin
#   trayer            a stand-alone XEmbed tray
#   none              no tray at all: the connected dialer stays on screen
#   late-PANEL        one of the panels above started only after Vantelo has
#                     connected (the tests run late-lxqt-panel and
#                     late-xfce4-panel)
#
# Usage: panel_tray.sh HOST VANTELO VANTELO_LINE ARTIFACTS_DIR
# Screenshots of every step go to ARTIFACTS_DIR/HOST.

# The helpers below run through wait_until and traps, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

expect_arguments 4 "HOST VANTELO VANTELO_LINE ARTIFACTS_DIR" "$@"
HOST=$1
HERE=$(realpath "$(dirname "${BASH_SOURCE[0]}")")
NAME=e2e_panel_$HOST

case $HOST in
xfce4-panel | late-xfce4-panel) PANEL_PROGRAMS=(xfce4-panel /usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd) ;;
lxqt-panel | late-lxqt-panel) PANEL_PROGRAMS=(lxqt-panel) ;;
trayer | late-trayer) PANEL_PROGRAMS=(trayer) ;;
none) PANEL_PROGRAMS=() ;;
*)
    echo "$0: HOST is xfce4-panel, lxqt-panel, trayer, none, or late- and a panel, not \"$HOST\"" >&2
    exit 2
    ;;
esac

# A fresh home on a private session bus: the panel owns the watcher's name
# without meeting a desktop's, xfconfd is started by the bus for Xfce's panel.
require_programs dbus-run-session Xvfb openbox xdotool xwininfo xev gdbus import convert compare jq \
    "${PANEL_PROGRAMS[@]}"
on_private_session_bus "$@"

VANTELO=$(realpath "$2")
LINE_TOOL=$(realpath "$3")
use_artifacts_folder "$4/$HOST"
x_desktop_environment own-session-bus

VANTELO_PID=""
PANEL_PID=""
LATE=0

trap end_session EXIT
trap 'fail "interrupted"' INT TERM

fail()
{
    echo
    log "FAILED at step $STEP_NO ($STEP): $*"
    failure_screenshot
    show_logs 30 vantelo.err panel.log
    echo "----- vantelo-line status -----"
    "$LINE_TOOL" status 2>&1
    log "artefacts: $ART"
    log "FAIL"
    exit 1
}

check_alive()
{
    check_vantelo_alive
    if [ -n "$PANEL_PID" ] && ! kill -0 "$PANEL_PID" 2>/dev/null; then
        fail "$HOST ended unexpectedly"
    fi
}
watch_vantelo_while_waiting

# ---- what a user sees: windows, the line, the panel's pixels ----

# Connected, a dialer brought back goes into the tray again at the monitor's
# next tick, which may come a moment later: too soon to poll for. xev keeps
# the dialer window's every map and unmap instead.
dialer_window() { DIALER_WIN=$(xdotool search --name "^$DIALER_TITLE\$" 2>/dev/null | head -n 1); [ -n "$DIALER_WIN" ]; }
watch_dialer()
{
    wait_until 10 "the dialer window" dialer_window
    xev -id "$DIALER_WIN" -event structure >"$WORK/dialer-events" 2>&1 &
    PIDS+=("$!")
}
dialer_maps() { grep -c '^MapNotify' "$WORK/dialer-events"; }
MAPS_BEFORE=0
mark_dialer_maps() { MAPS_BEFORE=$(dialer_maps); }
dialer_mapped_since_mark() { [ "$(dialer_maps)" -gt "$MAPS_BEFORE" ]; }

# The viewable override-redirect windows at the top of the tree (menus and
# tips are such windows), one id a line.
popups()
{
    local w info
    for w in $(xwininfo -root -children 2>/dev/null | awk '$1 ~ /^0x/ { print $1 }'); do
        info=$(xwininfo -id "$w" 2>/dev/null) || continue
        grep -q 'Map State: IsViewable' <<<"$info" || continue
        grep -q 'Override Redirect State: yes' <<<"$info" || continue
        # Qt and GTK keep some 1x1 helper windows mapped.
        [ "$(sed -n 's/^ *Width: //p' <<<"$info")" -gt 8 ] || continue
        echo "$w"
    done
}
POPUP=""
# new_popup [MIN_HEIGHT]: POPUP, the first popup open now that was not before
# (POPUPS_BEFORE), at least MIN_HEIGHT pixels high.
new_popup()
{
    local w min=${1:-0}
    POPUP=""
    for w in $(popups); do
        grep -qx "$w" <<<"$POPUPS_BEFORE" && continue
        [ "$min" -eq 0 ] ||
            [ "$(xwininfo -id "$w" 2>/dev/null | sed -n 's/^ *Height: //p')" -ge "$min" ] || continue
        POPUP=$w
        return 0
    done
    return 1
}
no_new_popup() { ! new_popup; }
# The menu: a new popup tall enough for Vantelo's ten entries (three of them
# separators). The pointer rests on the icon meanwhile, so the icon's tip may
# open beside it, before or after it.
new_menu() { new_popup 120; }
popup_gone() { ! popups | grep -qx "$POPUP"; }

# The panel's window: the biggest viewable top-level window of its process
# (for trayer, whose windows carry no pid, the one named "panel").
PANEL_WIN=""
panel_window()
{
    local w best="" area=0 a
    if [ "$HOST" = trayer ]; then
        best=$(xdotool search --onlyvisible --name '^panel$' 2>/dev/null | head -n 1)
    else
        for w in $(xdotool search --onlyvisible --pid "$PANEL_PID" 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
            a=$((WIDTH * HEIGHT))
            if [ "$a" -gt "$area" ]; then
                area=$a
                best=$w
            fi
        done
    fi
    [ -n "$best" ] || return 1
    PANEL_WIN=$best
}

# PANEL_X, PANEL_Y, PANEL_W, PANEL_H: where the panel's window is on screen.
panel_geometry()
{
    local info
    info=$(xwininfo -id "$PANEL_WIN") || fail "the panel's window $PANEL_WIN is gone"
    PANEL_X=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    PANEL_Y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    PANEL_W=$(sed -n 's/^ *Width: *//p' <<<"$info")
    PANEL_H=$(sed -n 's/^ *Height: *//p' <<<"$info")
}

panel_picture() { import -window root -crop "${PANEL_W}x$PANEL_H+$PANEL_X+$PANEL_Y" +repage "$1"; }

# The icon: the box of pixels in which the panel now differs from its picture
# before Vantelo started. ICON_X, ICON_Y: its middle, on screen.
ICON_BOX=""
icon_on_panel()
{
    panel_picture "$WORK/panel-now.png" 2>>"$WORK/import.log" || return 1
    if [ "$LATE" = 1 ]; then
        ICON_BOX=$(convert "$WORK/panel-now.png" -fuzz 8% -trim -format '%@' info: 2>/dev/null)
    else
        ICON_BOX=$(convert "$WORK/panel-empty.png" "$WORK/panel-now.png" -compose Difference \
            -composite -fuzz 8% -trim -format '%@' info: 2>/dev/null)
    fi
    [[ $ICON_BOX =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    local w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
    # An icon is a few pixels square; a one-pixel change is not one.
    [ "$w" -ge 8 ] && [ "$h" -ge 8 ] && [ "$w" -le 64 ] && [ "$h" -le 64 ] || return 1
    ICON_X=$((PANEL_X + x + w / 2))
    ICON_Y=$((PANEL_Y + y + h / 2))
}

start_panel()
{
    case $HOST in
    xfce4-panel)
        mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
        cp "$HERE/panels/xfce4-panel.xml" "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/"
        xfce4-panel --disable-wm-check >"$WORK/panel.log" 2>&1 &
        ;;
    *lxqt-panel)
        mkdir -p "$XDG_CONFIG_HOME/lxqt"
        cp "$HERE/panels/lxqt-panel.conf" "$XDG_CONFIG_HOME/lxqt/panel.conf"
        lxqt-panel >"$WORK/panel.log" 2>&1 &
        ;;
    trayer)
        trayer --edge top --align left --widthtype pixel --width 200 --height 32 \
            --heighttype pixel --SetDockType true --transparent false --tint 0xdddddd \
            >"$WORK/panel.log" 2>&1 &
        ;;
    esac
    PANEL_PID=$!
    PIDS+=("$PANEL_PID")
    wait_until 15 "the panel's window" panel_window
    panel_geometry
    log "  panel window $PANEL_WIN at $PANEL_X,$PANEL_Y, ${PANEL_W}x$PANEL_H"
    # A status-notifier panel is ready once its host has told the watcher.
    if [ "$HOST" != trayer ]; then
        wait_until 15 "status-notifier host registered by $HOST" sni_host_registered
    fi
    # The panel draws itself over a few frames: keep its picture once it
    # has stood still for a moment.
    local same=0
    panel_picture "$WORK/panel-empty.png"
    until [ "$same" -ge 3 ]; do
        sleep 0.2
        panel_picture "$WORK/panel-then.png"
        if [ "$(compare -metric AE "$WORK/panel-empty.png" "$WORK/panel-then.png" null: 2>&1)" = 0 ]; then
            same=$((same + 1))
        else
            same=0
            cp "$WORK/panel-then.png" "$WORK/panel-empty.png"
        fi
    done
    cp "$WORK/panel-empty.png" "$ART/panel-before-vantelo.png"
}

sni_host_registered()
{
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        IsStatusNotifierHostRegistered 2>/dev/null | grep -q true
}

# ---- the tray icon, as a user handles it ----

find_icon()
{
    wait_until 15 "Vantelo's icon on the panel" icon_on_panel
    log "  icon at $ICON_X,$ICON_Y (box $ICON_BOX in the panel)"
    cp "$WORK/panel-now.png" "$ART/panel-with-icon.png"
}

check_tip()
{
    # The pointer away from the icon first: what is open then is no tip.
    xdotool mousemove $((ICON_X + 40)) $((ICON_Y + 300))
    POPUPS_BEFORE=$(popups)
    xdotool mousemove "$ICON_X" "$ICON_Y"
    sleep 0.1
    xdotool mousemove $((ICON_X + 1)) "$ICON_Y"
    wait_until 8 "the icon's tip" new_popup
    eval "$(xdotool getwindowgeometry --shell "$POPUP")"
    log "  tip: window $POPUP, ${WIDTH}x$HEIGHT at $X,$Y"
    # "Vantelo BETA - Connected.00:00:01" takes far more than an icon's width.
    [ "$WIDTH" -ge 120 ] || fail "the tip is ${WIDTH} pixels wide: not the status and the clock"
    shot "$1"
    xdotool mousemove $((ICON_X + 40)) $((ICON_Y + 300))
    wait_until 8 "the tip to go" no_new_popup
}

activate_icon()
{
    xdotool mousemove "$ICON_X" "$ICON_Y"
    if [ "$HOST" = trayer ]; then
        xdotool click --repeat 2 --delay 80 1
    else
        xdotool click 1
    fi
}

open_menu()
{
    POPUPS_BEFORE=$(popups)
    xdotool mousemove "$ICON_X" "$ICON_Y" click 3
    local deadline=$(($(now_ms) + 5000))
    until new_menu; do
        [ -z "$WAIT_GUARD" ] || "$WAIT_GUARD"
        if [ "$(now_ms)" -ge "$deadline" ]; then
            new_popup && eval "$(xdotool getwindowgeometry --shell "$POPUP")" &&
                fail "no menu of Vantelo's ten entries within 5s, only a popup of ${WIDTH}x$HEIGHT"
            fail "no tray menu within 5s"
        fi
        sleep "$WAIT_POLL_SECONDS"
    done
    eval "$(xdotool getwindowgeometry --shell "$POPUP")"
    log "  menu: window $POPUP, ${WIDTH}x$HEIGHT at $X,$Y"
}

# choose N: the menu's Nth entry, separators skipped: 1 Principal,
# 2 Deconnecter, 3 Options, 4 Details de la connexion, 5 A Propos, 6 Quitter.
choose()
{
    local keys=() i
    for ((i = 0; i < $1; i++)); do keys+=(Down); done
    xdotool key --delay 80 "${keys[@]}"
    shot "$2"
    xdotool key Return
    wait_until 5 "the menu to close" popup_gone
}

# Closes a window as its close box does (openbox's Alt+F4).
close_window()
{
    local w
    w=$(visible_window "$1")
    xdotool windowactivate --sync "$w" 2>/dev/null || xdotool windowfocus --sync "$w"
    xdotool key alt+F4
    wait_until 5 "\"$1\" to close" not_shown "$1"
}

close_with_escape()
{
    local w
    w=$(visible_window "$1")
    xdotool windowactivate --sync "$w" 2>/dev/null || xdotool windowfocus --sync "$w"
    xdotool key Escape
    wait_until 5 "\"$1\" to close" not_shown "$1"
}

# ---- the run ----

step "X server and window manager"
start_x_server
start_window_manager
log "  display $DISPLAY"

case $HOST in
none | late-*) ;;
*)
    step "$HOST"
    start_panel
    ;;
esac

# The test reads the dialer's status line on the accessibility bus.
turn_on_accessibility_bus

step "start Vantelo; it connects on its own"
write_demo_phonebook
write_demo_login 1
start_vantelo
watch_dialer
wait_until 15 "a connected line" line_is Connected

if [ "$HOST" = none ] || [[ $HOST == late-* ]]; then
    step "no tray: the connected dialer stays on screen"
    wait_until 5 "the dialer window" dialer_visible
    # Three of the monitor's ticks with the line up.
    for _ in $(seq 30); do
        sleep 0.1
        dialer_visible || fail "the dialer hid itself with no tray to come back from"
    done
    shot 01-no-tray-dialer-stays
    # What the status line says, read over the accessibility bus.
    /usr/bin/python3 "$HERE/atspi_names.py" --shows "$VANTELO_PID" \
        "No tray on this desktop: Vantelo stays open while connected." ||
        fail "the dialer's status line does not say why it stays"
    if [ "$HOST" = none ]; then
        step "the dialer's close box ends Vantelo; the line stays up"
        close_window "$DIALER_TITLE"
        WAIT_FOR_EXIT=1 wait_until 10 "the end of Vantelo" vantelo_ended
        VANTELO_PID=""
        line_is Connected || fail "the line went down with the close box"
        log "PASS ($STEP_NO steps)"
        exit 0
    fi
    HOST=${HOST#late-}
    step "$HOST starts after Vantelo"
    # The icon may be on the panel from its first frame: it is found as the
    # pixels that differ from the panel's plain background instead.
    LATE=1
    start_panel
    step "the dialer goes into the tray once it has one"
    wait_until 5 "the dialer to hide into the new tray" dialer_hidden
fi

step "the icon on the panel"
wait_until 5 "the dialer to hide into the tray" dialer_hidden
find_icon
shot 02-connected-icon

step "the tip when the pointer rests on the icon"
check_tip 03-tip

step "activating the icon shows the dialer"
mark_dialer_maps
activate_icon
wait_until 5 "the dialer shown from the icon" dialer_mapped_since_mark
shot 04-dialer-from-icon
wait_until 5 "the dialer back in the tray" dialer_hidden

step "menu: Details de la connexion"
open_menu
shot 05-menu
choose 4 06-menu-details
wait_until 5 "\"Session\" window" shown Session
shot 07-session
close_window Session

step "menu: Options"
open_menu
choose 3 08-menu-options
wait_until 5 "\"Options...\" window" shown 'Options\.\.\.'
shot 09-options
close_with_escape 'Options\.\.\.'

step "menu: A Propos"
open_menu
choose 5 10-menu-about
wait_until 5 "the about window" shown 'About Vantelo BETA'
shot 11-about
close_with_escape 'About Vantelo BETA'

step "menu: Principal"
open_menu
mark_dialer_maps
choose 1 12-menu-principal
wait_until 5 "the dialer shown by Principal" dialer_mapped_since_mark
shot 13-principal
wait_until 5 "the dialer back in the tray" dialer_hidden

step "menu: Deconnecter"
open_menu
choose 2 14-menu-deconnecter
wait_until 10 "the line to hang up" line_has_no_call
shot 15-disconnected

step "menu: Quitter"
open_menu
choose 6 16-menu-quitter
wait_for_vantelo_end 10
shot 17-after-quit
log "artefacts: $ART"
log "PASS ($STEP_NO steps)"
exit 0
