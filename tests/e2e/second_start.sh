#!/usr/bin/env bash
# A second start of Vantelo under a real X server and window manager:
#
#   start Vantelo, minimize its dialer window, start Vantelo again: the second
#   start ends at once with exit code 0, and the first one's dialer window is
#   back on the screen. Only the first one keeps running.
#
# Usage: second_start.sh VANTELO ARTIFACTS_DIR
# Needs Xvfb, openbox, xdotool, xwininfo and ImageMagick's import.

# The helpers below run through wait_until and traps, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 VANTELO ARTIFACTS_DIR" >&2
    exit 2
fi

NAME=e2e_second_start
for tool in Xvfb openbox xdotool xwininfo import; do
    command -v "$tool" >/dev/null 2>&1 ||
        { echo "$NAME: FAIL: missing $tool (scripts/install-deps.sh installs it)"; exit 1; }
done

VANTELO=$(realpath "$1")
ART=$2
mkdir -p "$ART"
ART=$(realpath "$ART")
rm -f "$ART"/*.png

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-e2e.XXXXXX") || exit 1
export HOME=$WORK/home
export XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share
export XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p "$XDG_CONFIG_HOME/vantelo" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORMTHEME DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8

STEP="start"
PIDS=()
log() { printf '%s: %s\n' "$NAME" "$*"; }

cleanup()
{
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill -KILL "${PIDS[i]}" 2>/dev/null
        wait "${PIDS[i]}" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail()
{
    log "FAILED ($STEP): $*"
    import -window root "$ART/failure.png" 2>/dev/null && log "screen: $ART/failure.png"
    echo "----- first vantelo's stderr -----"
    tail -n 20 "$WORK/first.err" 2>/dev/null
    echo "----- second vantelo's stderr -----"
    tail -n 20 "$WORK/second.err" 2>/dev/null
    exit 1
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_until SECONDS WHAT COMMAND...: polls COMMAND every 0.05 s.
wait_until()
{
    local seconds=$1 what=$2
    shift 2
    local deadline=$(($(now_ms) + seconds * 1000))
    until "$@"; do
        [ "$(now_ms)" -ge "$deadline" ] && fail "no $what within ${seconds}s"
        sleep 0.05
    done
}

STEP="desktop"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
PIDS+=("$!")
wait_until 10 "display number from Xvfb" test -s "$WORK/display"
DISPLAY=":$(head -n 1 "$WORK/display")"
export DISPLAY
wait_until 10 "X server" eval 'xdotool getdisplaygeometry >/dev/null 2>&1'
openbox --sm-disable >/dev/null 2>&1 &
PIDS+=("$!")
wait_until 10 "window manager" eval "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'"

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
