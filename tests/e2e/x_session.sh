# shellcheck shell=bash
# What the end-to-end scripts share: a private home, a desktop session on a
# private X server (Xvfb) with a window manager (openbox), polling with a
# deadline, and ending what they started.
#
# Sourced, not run. The sourcing script sets NAME (its test's name, for the
# log) and defines fail MESSAGE, which tells what went wrong and exits
# non-zero; the helpers here call it. Every process a script starts goes into
# PIDS, in start order, so that end_started_processes can end them all.

PIDS=()
XVFB_PID=""
OPENBOX_PID=""

log() { printf '%s: %s\n' "$NAME" "$*"; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# expect_arguments COUNT WORDS "$@": ends the script with its usage, WORDS
# naming the arguments, unless it was given COUNT of them.
expect_arguments()
{
    local count=$1 words=$2
    shift 2
    if [ $# -ne "$count" ]; then
        echo "usage: $0 $words" >&2
        exit 2
    fi
}

# require_programs PROGRAM...: fails the test at once, naming every missing
# one, unless all of them can be found.
require_programs()
{
    local missing=() program
    for program in "$@"; do
        command -v "$program" >/dev/null 2>&1 || missing+=("$program")
    done
    if [ ${#missing[@]} -ne 0 ]; then
        echo "$NAME: FAIL: missing programs: ${missing[*]} (scripts/install-deps.sh installs them)"
        exit 1
    fi
}

# use_artifacts_folder DIR [FILE...]: ART becomes DIR's absolute path (DIR is
# made when missing), emptied of an earlier run's screenshots and FILEs.
use_artifacts_folder()
{
    mkdir -p "$1" || exit 1
    ART=$(realpath "$1")
    shift
    rm -f "$ART"/*.png
    local file
    for file in "$@"; do
        rm -f "${ART:?}/$file"
    done
}

# make_private_home: makes WORK, a fresh temporary folder, and points HOME and
# the XDG folders into it; the runtime folder is the owner's alone (0700), as
# the XDG rules want it. Nothing a test does reaches the real home.
make_private_home()
{
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-e2e.XXXXXX") || exit 1
    export HOME=$WORK/home
    export XDG_CONFIG_HOME=$HOME/.config
    export XDG_DATA_HOME=$HOME/.local/share
    export XDG_CACHE_HOME=$HOME/.cache
    export XDG_RUNTIME_DIR=$WORK/runtime
    if ! mkdir -p "$XDG_CONFIG_HOME/vantelo" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" ||
        ! mkdir -m 700 "$XDG_RUNTIME_DIR"; then
        echo "$NAME: FAIL: cannot make the private home in $WORK"
        rm -rf "$WORK"
        exit 1
    fi
}

# x_desktop_environment no-session-bus|own-session-bus: a user's X desktop
# session, not a test harness: the real X platform plugin, no Wayland, no
# session manager or platform theme of the desktop the tests run from, and
# fixed text formats so that files read the same on every machine. The
# desktop's session bus is left too; own-session-bus keeps the private one
# the script runs on.
x_desktop_environment()
{
    case $1 in
    no-session-bus) unset DBUS_SESSION_BUS_ADDRESS ;;
    own-session-bus) ;;
    *)
        echo "x_desktop_environment: no-session-bus or own-session-bus, not \"$1\"" >&2
        exit 2
        ;;
    esac
    export QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORMTHEME
    export LC_ALL=C.UTF-8
}

# wait_until SECONDS WHAT COMMAND...: runs COMMAND every WAIT_POLL_SECONDS
# (0.05 by default) until it succeeds; fails with "no WHAT within SECONDSs"
# once SECONDS have passed. When WAIT_GUARD names a command, it runs after
# every unsuccessful poll and may fail the test itself (a program the test
# needs has ended, say).
WAIT_POLL_SECONDS=0.05
WAIT_GUARD=""
wait_until()
{
    local seconds=$1 what=$2
    shift 2
    local deadline=$(($(now_ms) + seconds * 1000))
    until "$@"; do
        [ -z "$WAIT_GUARD" ] || "$WAIT_GUARD"
        [ "$(now_ms)" -ge "$deadline" ] && fail "no $what within ${seconds}s"
        sleep "$WAIT_POLL_SECONDS"
    done
    return 0
}

# end_session: ends what the script started and removes its private home.
# The simulated line keeps its calls in that home's runtime folder: where the
# script names a LINE_TOOL, any call left is closed before the folder goes.
end_session()
{
    end_started_processes
    [ -z "${LINE_TOOL:-}" ] || "$LINE_TOOL" hangup >/dev/null 2>&1
    rm -rf "$WORK"
}

# step WORDS: the next numbered step of the test, logged; failures name it.
STEP_NO=0
step()
{
    STEP_NO=$((STEP_NO + 1))
    STEP=$*
    log "step $STEP_NO: $STEP"
}

# end_started_processes: ends every process in PIDS, the last started first
# (the program before the window manager before the X server): each is asked
# with TERM, given up to a second, then killed.
end_started_processes()
{
    local i pid
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill -TERM "${PIDS[i]}" 2>/dev/null
    done
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        pid=${PIDS[i]}
        for _ in $(seq 20); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}

x_display_written() { [ -s "$WORK/display" ]; }
x_server_answers() { xdotool getdisplaygeometry >/dev/null 2>&1; }

# start_x_server: a private X server with one 1024x768 screen; exports its
# DISPLAY once it answers. Its messages go to $WORK/xvfb.log.
start_x_server()
{
    # -displayfd: the server picks a free display and writes its number.
    # -noreset: the server would otherwise reset when its last client leaves
    # (our readiness probe), and refuse the window manager for that moment.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$WORK/display" 2>"$WORK/xvfb.log" &
    XVFB_PID=$!
    PIDS+=("$XVFB_PID")
    wait_until 10 "display number from Xvfb" x_display_written
    DISPLAY=":$(head -n 1 "$WORK/display")"
    export DISPLAY
    wait_until 10 "X server answering on $DISPLAY" x_server_answers
}

window_manager_ready()
{
    kill -0 "$OPENBOX_PID" 2>/dev/null || fail "openbox ended"
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# start_window_manager: openbox on the X server, once it has taken the screen
# (it names its check window on the root). Its messages go to $WORK/openbox.log.
start_window_manager()
{
    openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
    OPENBOX_PID=$!
    PIDS+=("$OPENBOX_PID")
    wait_until 10 "window manager" window_manager_ready
}
