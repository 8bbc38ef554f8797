# shellcheck shell=bash
# What the end-to-end scripts share: a private home, a desktop session on a
# private X server (Xvfb) with a window manager (openbox), polling with a
# deadline, ending what they started, and Vantelo in that session (its sample
# entry, its start, the line and its windows as seen from outside). The
# benchmark and the lab's host side source it too.
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

# step WORDS: the next numbered step of the test, logged; failures name it
# (STEP, "start" until the first step).
STEP_NO=0
STEP="start"
step()
{
    STEP_NO=$((STEP_NO + 1))
    STEP=$*
    log "step $STEP_NO: $STEP"
}

# end_process PID [SECONDS]: asks the process to end (TERM), gives it up to
# SECONDS (1 by default), then kills it, and reaps it when it is a child of
# this shell. One already gone is no error.
end_process()
{
    local pid=$1 seconds=${2:-1}
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq $((seconds * 20))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# end_started_processes: ends every process in PIDS, the last started first
# (the program before the window manager before the X server): all are asked
# with TERM at once, then each is given up to a second before it is killed.
end_started_processes()
{
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill -TERM "${PIDS[i]}" 2>/dev/null
    done
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        end_process "${PIDS[i]}"
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

# on_private_session_bus "$@": the first time through, makes the private home
# and runs the script again, with the same arguments, on a private session bus
# of its own (dbus-run-session), which ends this run with that one's status;
# the second time, WORK is that home.
on_private_session_bus()
{
    if [ -n "${VANTELO_E2E_WORK:-}" ]; then
        WORK=$VANTELO_E2E_WORK
        return 0
    fi
    make_private_home
    export VANTELO_E2E_WORK=$WORK
    exec dbus-run-session -- bash "$0" "$@"
}

# turn_on_accessibility_bus: as on a screen reader's desktop, the session's
# accessibility bus is told to be on, so a program's toolkit offers its
# windows there from the start.
turn_on_accessibility_bus()
{
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' \
        >/dev/null 2>"$WORK/gdbus.err" ||
        fail "cannot turn the accessibility bus on: $(cat "$WORK/gdbus.err")"
}

# write_demo_phonebook: the phonebook's sample entry, Vantelo Demo, on the
# simulated line with stages of 100 ms and the account demo/demo.
write_demo_phonebook()
{
    cat >"$XDG_CONFIG_HOME/vantelo/rasphone.pbk" <<'PBK'
[Vantelo Demo]
PhoneNumber=0860
Device=Vantelo Simulated Modem
SimUser=demo
SimPassword=demo
SimSpeed=28800
SimOutcome=connect
SimStageMs=100
SimHangUpMs=100
PBK
}

# write_demo_login AUTO_CONNECT: a settings file with that entry's login
# stored, AutoConnect as given (0 or 1).
write_demo_login()
{
    printf '[INFO]\r\nLogin1=demo\r\nPassword1=demo\r\nNumero1=0860\r\nAutoConnect=%s\r\n' "$1" \
        >"$XDG_CONFIG_HOME/vantelo/test.ini"
}

# start_vantelo: starts $VANTELO, its output in $WORK/vantelo.out and
# vantelo.err; VANTELO_PID is its pid.
start_vantelo()
{
    "$VANTELO" >"$WORK/vantelo.out" 2>"$WORK/vantelo.err" &
    VANTELO_PID=$!
    PIDS+=("$VANTELO_PID")
}

# failure_screenshot: keeps the screen in $ART/failure.png while the X server
# still runs.
failure_screenshot()
{
    if [ -n "$XVFB_PID" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
        import -window root "$ART/failure.png" 2>/dev/null &&
            log "screen at the failure: $ART/failure.png"
    fi
    return 0
}

# show_logs LINES FILE...: the last LINES lines of each FILE of $WORK under
# its name, for a failure's report; a file not written yet shows nothing.
show_logs()
{
    local lines=$1 file
    shift
    for file in "$@"; do
        echo "----- $file -----"
        tail -n "$lines" "$WORK/$file" 2>/dev/null
    done
    return 0
}

# shot NAME: a screenshot of the whole screen, $ART/NAME.png.
shot()
{
    import -window root "$ART/$1.png" 2>>"$WORK/import.log" ||
        fail "cannot take the screenshot $1"
    log "  screenshot $ART/$1.png"
}

# The line as the line tool ($LINE_TOOL) reports it.
line_json() { "$LINE_TOOL" status --json 2>>"$WORK/line.err"; }
# The state, in words, of the line's first connection, or nothing.
line_state() { line_json | jq -r '.connections[0].state // empty' 2>/dev/null; }
line_is() { [ "$(line_state)" = "$1" ]; }
line_has_no_call() { [ "$(line_json | jq -r '.connections | length' 2>/dev/null)" = 0 ]; }

# Windows by their whole title; the dialer's is DIALER_TITLE.
DIALER_TITLE='Vantelo - BETA VERSION'
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
shown() { [ -n "$(visible_window "$1")" ]; }
not_shown() { ! shown "$1"; }
dialer_visible() { shown "$DIALER_TITLE"; }
dialer_hidden() { not_shown "$DIALER_TITLE"; }

# check_vantelo_alive: fails when the program has ended on its own.
check_vantelo_alive()
{
    if [ -n "${VANTELO_PID:-}" ] && ! kill -0 "$VANTELO_PID" 2>/dev/null; then
        wait "$VANTELO_PID"
        fail "vantelo ended unexpectedly (exit status $?)"
    fi
}

# wait_for_vantelo_end SECONDS: waits for the program, asked to end, to be
# gone, then fails unless it has ended within SECONDS with exit status 0.
vantelo_ended() { ! kill -0 "$VANTELO_PID" 2>/dev/null; }
wait_for_vantelo_end()
{
    WAIT_FOR_EXIT=1 wait_until "$1" "the end of Vantelo" vantelo_ended
    local status=0
    wait "$VANTELO_PID" || status=$?
    VANTELO_PID=""
    [ "$status" = 0 ] || fail "vantelo ended with exit status $status"
}

# watch_vantelo_while_waiting: from now on every wait polls each 0.1 s and
# runs check_alive (check_vantelo_alive unless the script defines its own),
# except while waiting for the program's end (WAIT_FOR_EXIT=1).
check_alive() { check_vantelo_alive; }
alive_unless_ending() { [ "${WAIT_FOR_EXIT:-0}" = 1 ] || check_alive; }
watch_vantelo_while_waiting()
{
    WAIT_POLL_SECONDS=0.1
    WAIT_GUARD=alive_unless_ending
}
