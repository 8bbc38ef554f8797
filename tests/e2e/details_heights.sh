#!/usr/bin/env bash
# The details window's two heights under a real X server and window manager:
#
#   "Hide Options" gives the window an outer height (title bar and borders
#   included) of 260 px, "Options >>" one of 340 px, whenever the window
#   manager gets round to framing the window: pressed right after the window
#   is shown (before its frame exists), pressed in quick bursts, or pressed
#   once everything has settled.
#
# The outer height is read from outside (the client window's height plus the
# top and bottom of _NET_FRAME_EXTENTS) and from inside the program. Ten
# rounds, each with a freshly loaded window.
#
# Usage: details_heights.sh DRIVER ARTIFACTS_DIR
# DRIVER is details_window_driver. Needs Xvfb, openbox, xdotool, xprop,
# xwininfo and ImageMagick's import.

# The helpers below run through wait_until and traps, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

expect_arguments 2 "DRIVER ARTIFACTS_DIR" "$@"

NAME=e2e_details_heights
ROUNDS=${VANTELO_E2E_ROUNDS:-10}
SHORT=260 # 3900 twips
TALL=340  # 5100 twips
DESIGN_CLIENT=268 # 4020 twips, the client area before any press

require_programs Xvfb openbox xdotool xprop xwininfo import

DRIVER=$(realpath "$1")
use_artifacts_folder "$2"

make_private_home
x_desktop_environment no-session-bus

DRIVER_PID=""
WID=""

cleanup()
{
    # The coprocess's descriptors are gone once it has ended.
    [ -n "$DRIVER_PID" ] && [ -n "${DRV[1]:-}" ] && { echo quit >&"${DRV[1]}"; } 2>/dev/null
    end_session
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

fail()
{
    echo
    log "FAILED ($STEP): $*"
    failure_screenshot
    show_logs 40 driver.err
    show_logs 20 openbox.log
    log "FAIL"
    exit 1
}

# ---- the driver ----

ANSWER=""
# send COMMAND EXPECTED_PREFIX: one command, one answer starting with the prefix.
send()
{
    [ -n "${DRV[1]:-}" ] || fail "the driver has ended"
    echo "$1" >&"${DRV[1]}" || fail "the driver does not take commands"
    IFS= read -r -t 5 ANSWER <&"${DRV[0]}" || fail "no answer from the driver to \"$1\""
    [[ $ANSWER == "$2"* ]] || fail "the driver answered \"$ANSWER\" to \"$1\""
}

INSIDE_CLIENT=""
INSIDE_OUTER=""
inside_state()
{
    send state "state "
    read -r _ INSIDE_CLIENT INSIDE_OUTER <<<"$ANSWER"
}

# ---- the window as the X server and the window manager see it ----

CLIENT=""
OUTER=""
EXTENTS=""
# Reads the client height and the frame; fails while the window is not
# mapped or the window manager has not said how big its frame is.
read_outside()
{
    local info top bottom
    CLIENT=""
    OUTER=""
    info=$(xwininfo -id "$WID" 2>/dev/null) || return 1
    grep -q 'Map State: IsViewable' <<<"$info" || return 1
    CLIENT=$(sed -n 's/^ *Height: *//p' <<<"$info")
    EXTENTS=$(xprop -id "$WID" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/^.* = *//p')
    [[ $EXTENTS =~ ^([0-9]+),\ *([0-9]+),\ *([0-9]+),\ *([0-9]+)$ ]] || return 1
    top=${BASH_REMATCH[3]}
    bottom=${BASH_REMATCH[4]}
    [ "$top" -gt 0 ] || return 1
    OUTER=$((CLIENT + top + bottom))
}

outer_is() { read_outside && [ "$OUTER" = "$1" ]; }
client_is() { read_outside && [ "$CLIENT" = "$1" ]; }
inside_outer_is()
{
    inside_state
    [ "$INSIDE_OUTER" = "$1" ]
}

# expect_outer HEIGHT: the outer height settles at HEIGHT, seen from outside
# and from inside the program.
expect_outer()
{
    local want=$1
    outer_is "$want" || wait_until 3 "outer height $want (last seen: client $CLIENT, frame extents \"$EXTENTS\", outer $OUTER)" outer_is "$want"
    inside_outer_is "$want" || wait_until 3 "outer height $want inside the program (last seen: client $INSIDE_CLIENT, outer $INSIDE_OUTER)" inside_outer_is "$want"
}

# ---- the run ----

STEP="X server"
start_x_server

STEP="window manager"
start_window_manager

STEP="driver"
coproc DRV { exec "$DRIVER" 2>"$WORK/driver.err"; }
DRIVER_PID=$DRV_PID
PIDS+=("$DRIVER_PID")
IFS= read -r -t 10 ANSWER <&"${DRV[0]}" || fail "the driver did not start"
[ "$ANSWER" = ready ] || fail "the driver said \"$ANSWER\" instead of \"ready\""

for round in $(seq "$ROUNDS"); do
    STEP="round $round"
    if ((round % 2)); then
        # The press comes before the window manager has framed the window.
        send open-short "shown "
        WID=${ANSWER#shown }
        expect_outer "$SHORT"
    else
        # The window first shows its design client area, then the press
        # comes as soon as the program sees it; the frame may still be on
        # its way.
        send open "shown "
        WID=${ANSWER#shown }
        send opt "opt Options >>"
        expect_outer "$SHORT"
    fi
    send opt "opt Hide Options"
    expect_outer "$TALL"
    send opt "opt Options >>"
    expect_outer "$SHORT"
    # A quick burst: the window ends tall, then short.
    send opt "opt Hide Options"
    send opt "opt Options >>"
    send opt "opt Hide Options"
    expect_outer "$TALL"
    send opt "opt Options >>"
    expect_outer "$SHORT"
    log "round $round: outer heights $SHORT / $TALL held (client $CLIENT, frame extents $EXTENTS)"
    [ "$round" = 1 ] && import -window root "$ART/round-1-short.png" 2>/dev/null
    send close closed
done

STEP="a window left alone keeps its design client area"
send open "shown "
WID=${ANSWER#shown }
client_is "$DESIGN_CLIENT" || wait_until 3 "client height $DESIGN_CLIENT (last seen: $CLIENT)" client_is "$DESIGN_CLIENT"
send close closed

log "PASS ($ROUNDS rounds)"
exit 0
