#!/usr/bin/env bash
# A second start of Vantelo under a real X server and window manager:
#
#   start Vantelo, minimize its dialer window, start Vantelo again: the second
#   start ends at once with exit code 0, and the first one's dialer window is
#   back on the screen. Only the first one keeps running.
#
# Usage: second_start.sh VANTELO ARTIFACTS_DIR
# Needs Xvfb, openbox, xdotool, xprop, xwininfo and ImageMagick's import.

# The helpers below run through wait_until and traps, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

expect_arguments 2 "VANTELO ARTIFACTS_DIR" "$@"

NAME=e2e_second_start
require_programs Xvfb openbox xdotool xprop xwininfo import

VANTELO=$(realpath "$1")
use_artifacts_folder "$2"

make_private_home
x_desktop_environment no-session-bus


trap end_session EXIT
trap 'fail "interrupted"' INT TERM

fail()
{
    log "FAILED ($STEP): $*"
    failure_screenshot
    show_logs 20 first.err second.err
    exit 1
}

STEP="desktop"
start_x_server
start_window_manager

STEP="first start"
"$VANTELO" >/dev/null 2>"$WORK/first.err" </dev/null &
FIRST=$!
PIDS+=("$FIRST")
WID=""
dialer_shown() { WID=$(xdotool search --onlyvisible --pid "$FIRST" --name '^Vantelo - BETA VERSION$' 2>/dev/null | head -n 1); [ -n "$WID" ]; }
wait_until 20 "dialer window" dialer_shown
viewable() { xwininfo -id "$WID" 2>/dev/null | grep -q 'Map State: IsViewable'; }

STEP="minimize"
xdotool windowminimize "$WID"
wait_until 5 "minimized dialer" eval '! viewable'

STEP="second start"
t0=$(now_ms)
"$VANTELO" >/dev/null 2>"$WORK/second.err" </dev/null &
SECOND=$!
PIDS+=("$SECOND")
wait_until 5 "end of the second start" eval "! kill -0 $SECOND 2>/dev/null"
wait "$SECOND"
code=$?
took=$(($(now_ms) - t0))
[ "$code" = 0 ] || fail "the second start ended with exit code $code"
wait_until 5 "dialer window back on the screen" viewable
kill -0 "$FIRST" 2>/dev/null || fail "the first vantelo ended"
import -window root "$ART/shown-again.png" 2>/dev/null

log "PASS (the second start ended with 0 after ${took} ms; the first one's dialer is back)"
exit 0
