#!/usr/bin/env bash
# Measures Vantelo against the floor, a Qt Widgets program with one window and
# one tray icon and nothing else, both on the same private X server (Xvfb),
# window manager (openbox) and tray host, in the same run:
#
#   start-up CPU and peak memory, vantelo against the floor, and start-up CPU
#   against the floor showing one line of text (floor --text);
#   CPU and wakeups while connected, the window hidden in the tray, then with
#   the details window open (the floor measured over the same periods), and
#   hidden in the tray against the floor whose tray tip changes every second
#   (floor --tip-every-second), as Vantelo's does while connected, and with the
#   details window against the floor that also shows a clock and two byte
#   counters as that window does (floor --details, over the same period, once
#   both programs' text cursors rest: from then on it costs the same whichever
#   window has the keyboard focus);
#   the monitor tick's CPU (bench_monitor_tick), bytes written while connected
#   (over both connected periods: the system writes a changed page back about
#   every 30 s, so a single period would count one write or two), against the
#   floor that rewrites a file in place each second over the same periods
#   (floor --rewrite-every-second), as Vantelo does its call log, and syncs;
#   start-up and `vantelo-line list` with large phonebooks.
#
# Each figure is printed with its goal and a verdict (meets / misses). Missed
# goals do not fail the run: the exit status is 1 only when a figure could not
# be measured.
#
# Environment (programs default to the build folder BUILD_DIR, "build"):
#   VANTELO, VANTELO_LINE        the programs measured
#   BENCH_FLOOR                  the floor (tests/bench/floor.cpp)
#   BENCH_TRAY_HOST              the tray host (tests/e2e/tray_host.cpp)
#   BENCH_MONITOR_TICK           the tick benchmark (tests/bench/bench_monitor_tick.cpp)
#   BENCH_SECONDS                length of each idle period (30)
#   BENCH_QUICK=1                a check of the harness: 2-second idle periods,
#                                phonebooks of 1 and 1,000 entries, one start each
#
# Needs Xvfb, openbox, xdotool, xprop, dbus-run-session, jq; strace for the
# syncs (without it that figure says it was not measured).

# The helpers below run through wait_until and traps, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=../e2e/x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/x_session.sh"

NAME=bench

fail()
{
    log "cannot measure: $*"
    for f in "$WORK"/*.err; do
        [ -s "$f" ] || continue
        echo "----- $(basename "$f") -----"
        tail -n 20 "$f"
    done
    exit 1
}

# The whole run is on a private session bus, in a fresh home: make the home,
# then run again on the bus.
if [ -z "${VANTELO_BENCH_WORK:-}" ]; then
    require_programs dbus-run-session Xvfb openbox xdotool xprop jq awk
    BUILD_DIR=${BUILD_DIR:-build}
    for var in VANTELO:src/app/vantelo VANTELO_LINE:tools/vantelo-line \
        BENCH_FLOOR:tests/bench/vantelo_bench_floor BENCH_TRAY_HOST:tests/e2e/vantelo_tray_host \
        BENCH_MONITOR_TICK:tests/bench/bench_monitor_tick; do
        name=${var%%:*}
        path=${!name:-$BUILD_DIR/${var#*:}}
        [ -x "$path" ] || {
            echo "$NAME: cannot measure: $name: no program at $path (build it first)"
            exit 1
        }
        export "$name=$(realpath "$path")"
    done
    make_private_home
    export VANTELO_BENCH_WORK=$WORK
    exec dbus-run-session -- bash "$0" "$@"
fi
WORK=$VANTELO_BENCH_WORK
trap end_session EXIT
trap 'fail "interrupted"' INT TERM
x_desktop_environment own-session-bus

if [ "${BENCH_QUICK:-0}" = 1 ]; then
    SECONDS_IDLE=${BENCH_SECONDS:-2}
    CURSORS_REST=1
    STARTS=1
    SIZES=(1 1000)
else
    SECONDS_IDLE=${BENCH_SECONDS:-30}
    # Text cursors rest ten seconds after the last input.
    CURSORS_REST=12
    STARTS=5
    SIZES=(1 10000 100000)
fi
HZ=$(getconf CLK_TCK)
PHONEBOOK=$XDG_CONFIG_HOME/vantelo/rasphone.pbk
SETTINGS=$XDG_CONFIG_HOME/vantelo/test.ini
DIALER_TITLE='Vantelo - BETA VERSION'
FLOOR_TITLE='Vantelo floor'

# ---- what /proc tells of a running process ----

# CPU time (user+sys) of the live threads, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d\n", s }'; }

# CPU time (user+sys) of the process, ended threads included, in nanoseconds
# (in clock ticks, so coarse).
stat_cpu_ns()
{
    local s
    s=$(<"/proc/$1/stat") || return 1
    s=${s##*) }
    awk -v hz="$HZ" '{ printf "%d\n", ($12 + $13) * 1e9 / hz }' <<<"$s"
}

# The times any of its threads went to sleep and was woken: its wakeups
# (voluntary context switches). Involuntary ones are not counted: they are
# the thread being made to give way to another program while it ran, and
# follow the machine's load, not the program.
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches:/ { s += $2 } END { print s + 0 }'; }

status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
io_field() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/io"; }

# Arithmetic on decimals.
calc() { awk "BEGIN { printf \"$1\n\", $2 }"; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo meets; else echo misses; fi; }
median()
{
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

ROWS=0
row()
{
    ROWS=$((ROWS + 1))
    printf '| %-35s | %-62s | %-30s | %-7s |\n' "$1" "$2" "$3" "$4"
}

# ---- starting and ending the programs ----

registrations() { grep -c '^registered ' "$WORK/tray_host.out"; }
window_of() { xdotool search --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_of "$1" "$2")" ]; }
window_gone() { [ -z "$(window_of "$1" "$2")" ]; }
registered_after() { [ "$(registrations)" -gt "$1" ]; }
# alive PID NAME: fails, with how the program ended, once PID is gone.
alive()
{
    kill -0 "$1" 2>/dev/null && return 0
    local status how
    wait "$1" 2>/dev/null
    status=$?
    if [ "$status" -eq 127 ]; then
        how="its exit status is not known here"
    elif [ "$status" -gt 128 ]; then
        how="killed by signal $((status - 128))"
    else
        how="exit status $status"
    fi
    fail "$2 ended ($how; see $WORK)"
}

# Quiet: under 3 ms of CPU in 300 ms (1 %).
quiet()
{
    local a b
    a=$(cpu_ns "$1")
    sleep 0.3
    b=$(cpu_ns "$1")
    [ $((b - a)) -lt 3000000 ]
}

# stop PID: asks it to end, kills it after two seconds, and forgets it.
stop()
{
    local pid=$1 i
    end_process "$pid" 2
    for i in "${!PIDS[@]}"; do
        [ "${PIDS[i]}" = "$pid" ] && unset 'PIDS[i]'
    done
    PIDS=("${PIDS[@]}")
}

# launch NAME TITLE PROGRAM...: starts PROGRAM and waits for its window
# TITLE. Sets PID and SHOWN_MS (from the start to the window on screen);
# SHOWN_MS is empty when the window does not come within START_LIMIT seconds.
START_LIMIT=30
launch()
{
    local name=$1 title=$2 t0
    shift 2
    t0=$(now_ms)
    "$@" >>"$WORK/$name.out" 2>>"$WORK/$name.err" </dev/null &
    PID=$!
    PIDS+=("$PID")
    SHOWN_MS=""
    until window_shown "$PID" "$title"; do
        alive "$PID" "$name"
        [ $(($(now_ms) - t0)) -ge $((START_LIMIT * 1000)) ] && return 0
        sleep 0.02
    done
    SHOWN_MS=$(($(now_ms) - t0))
}

# start_measured NAME TITLE PROGRAM: launch, then wait for the tray icon and
# a quiet event loop. Sets CPU_NS (start-up CPU) and HWM_KB (peak memory).
start_measured()
{
    local name=$1 title=$2 before
    before=$(registrations)
    launch "$@"
    [ -n "$SHOWN_MS" ] || fail "no window \"$title\" from $name within ${START_LIMIT}s"
    wait_until 20 "tray icon from $name" registered_after "$before"
    wait_until 20 "quiet event loop in $name" quiet "$PID"
    local live ticks
    live=$(cpu_ns "$PID")
    ticks=$(stat_cpu_ns "$PID")
    CPU_NS=$((live > ticks ? live : ticks))
    HWM_KB=$(status_kb "$PID" VmHWM)
}

# write_phonebook N: the quick simulated entry first, then N-1 more.
write_phonebook()
{
    {
        printf '[Vantelo Demo]\nPhoneNumber=0860\nSimUser=demo\nSimPassword=demo\nDevice=Vantelo Simulated Modem\n'
        printf 'SimSpeed=28800\nSimStageMs=50\nSimHangUpMs=50\n'
        awk -v n="$1" 'BEGIN { for (i = 2; i <= n; i++) printf "[Entry %06d]\nPhoneNumber=%d\n", i, i }'
    } >"$PHONEBOOK"
}

# write_settings AUTOCONNECT: the stored login, dialing at start-up or not.
write_settings()
{
    printf '[INFO]\r\nLogin1=demo\r\nNumero1=0860\r\nPassword1=demo\r\nAutoConnect=%s\r\n' "$1" >"$SETTINGS"
}

reset_line() { "$VANTELO_LINE" reset >/dev/null 2>>"$WORK/line.err"; }

# ---- the desktop ----

start_x_server
start_window_manager
"$BENCH_TRAY_HOST" >"$WORK/tray_host.out" 2>"$WORK/tray_host.err" &
PIDS+=("$!")
host_ready() { grep -qs '^ready$' "$WORK/tray_host.out"; }
wait_until 10 "tray host" host_ready

log "idle periods of ${SECONDS_IDLE}s, start-ups: median of $STARTS"
log "vantelo: $VANTELO"

# ---- start-up: the floor and vantelo (one entry), alternately ----

write_phonebook 1
write_settings 0
FLOOR_CPU=() FLOOR_HWM=() TEXT_CPU=() V_CPU=() V_HWM=() V_SHOWN=()
for _ in $(seq "$STARTS"); do
    start_measured floor "$FLOOR_TITLE" "$BENCH_FLOOR"
    FLOOR_CPU+=("$CPU_NS") FLOOR_HWM+=("$HWM_KB")
    stop "$PID"
    start_measured floor_text "$FLOOR_TITLE" "$BENCH_FLOOR" --text
    TEXT_CPU+=("$CPU_NS")
    stop "$PID"
    start_measured vantelo "$DIALER_TITLE" "$VANTELO"
    V_CPU+=("$CPU_NS") V_HWM+=("$HWM_KB") V_SHOWN+=("$SHOWN_MS")
    stop "$PID"
done
F_CPU=$(median "${FLOOR_CPU[@]}")
F_HWM=$(median "${FLOOR_HWM[@]}")
FT_CPU=$(median "${TEXT_CPU[@]}")
VC=$(median "${V_CPU[@]}")
VH=$(median "${V_HWM[@]}")
SHOWN_1=$(median "${V_SHOWN[@]}")

# ---- start-up with large phonebooks ----

declare -A SHOWN_AT
SHOWN_AT[1]=$SHOWN_1
for n in "${SIZES[@]:1}"; do
    write_phonebook "$n"
    runs=()
    for _ in $(seq "$STARTS"); do
        launch vantelo "$DIALER_TITLE" "$VANTELO"
        stop "$PID"
        if [ -z "$SHOWN_MS" ]; then
            runs=("")
            break
        fi
        runs+=("$SHOWN_MS")
        [ "$SHOWN_MS" -gt 10000 ] && break
    done
    SHOWN_AT[$n]=${runs[*]:+$(median "${runs[@]}")}
done

# ---- vantelo-line list ----

# A list that takes longer than LIST_LIMIT seconds is ended and reported so.
LIST_LIMIT=30

declare -A LIST_MS
for n in "${SIZES[@]}"; do
    write_phonebook "$n"
    runs=()
    for _ in $(seq "$STARTS"); do
        t0=$(now_ms)
        timeout "$LIST_LIMIT" "$VANTELO_LINE" list >/dev/null 2>>"$WORK/line.err"
        status=$?
        if [ "$status" = 124 ]; then
            runs=()
            break
        fi
        [ "$status" = 0 ] || fail "vantelo-line list failed with $n entries (status $status)"
        runs+=($(($(now_ms) - t0)))
        [ "${runs[-1]}" -gt 5000 ] && break
    done
    LIST_MS[$n]=${runs[*]:+$(median "${runs[@]}")}
done

# ---- connected: hidden in the tray, then with the details window ----

# Vantelo runs untraced while its CPU and wakeups are measured: a process
# under strace wakes more often than it would alone (seen: its D-Bus thread
# 7 times a second instead of 1-2). The syncs are counted afterwards, in a
# period of their own, with Vantelo started again under strace.

write_phonebook 1
write_settings 1
reset_line
start_measured floor "$FLOOR_TITLE" "$BENCH_FLOOR"
FLOOR_PID=$PID
# The floor whose tip changes every second, as Vantelo's does while
# connected: the least such a tip costs.
start_measured floor_tip "$FLOOR_TITLE" "$BENCH_FLOOR" --tip-every-second
TIP_PID=$PID
# The floor that rewrites a file in place each second, as Vantelo does its
# call log while connected: the least that costs the disk, on this file system.
start_measured floor_disk "$FLOOR_TITLE" "$BENCH_FLOOR" --rewrite-every-second "$WORK/floor-record.txt"
DISK_PID=$PID

STRACE=""
SYNC_LOG=$WORK/syncs.txt
if ! command -v strace >/dev/null 2>&1; then
    SYNC_NOTE="not measured: strace is not installed"
elif ! strace -f --seccomp-bpf -qq -o /dev/null true 2>"$WORK/strace.err"; then
    SYNC_NOTE="not measured: strace cannot trace here ($(head -n 1 "$WORK/strace.err"))"
else
    # Only the syncs stop the program (seccomp-bpf): the rest runs untraced.
    STRACE="strace -f --seccomp-bpf -qq -ttt -e trace=fsync,fdatasync,sync_file_range -e signal=none -o $SYNC_LOG"
fi

line_connected() { "$VANTELO_LINE" status --json 2>>"$WORK/line.err" | jq -e '.connections[0].state == "Connected"' >/dev/null; }
vantelo_alive() { alive "$VANTELO_PID" vantelo; }

# start_connected [strace]: starts vantelo (under strace when asked), waits
# for the line to be up and the dialer hidden in the tray, then lets the
# connection's own work pass: the next ticks are the steady state.
start_connected()
{
    if [ "${1:-}" = strace ]; then
        read -ra STRACE_ARGS <<<"$STRACE"
        "${STRACE_ARGS[@]}" "$VANTELO" >>"$WORK/vantelo.out" 2>>"$WORK/vantelo.err" </dev/null &
        STRACE_PID=$!
        PIDS+=("$STRACE_PID")
        traced_child() { VANTELO_PID=$(pgrep -P "$STRACE_PID" | head -n 1); [ -n "$VANTELO_PID" ]; }
        wait_until 10 "vantelo under strace" traced_child
    else
        "$VANTELO" >>"$WORK/vantelo.out" 2>>"$WORK/vantelo.err" </dev/null &
        VANTELO_PID=$!
    fi
    PIDS+=("$VANTELO_PID")
    WAIT_GUARD=vantelo_alive
    wait_until 20 "connected line" line_connected
    wait_until 10 "dialer hidden in the tray" window_gone "$VANTELO_PID" "$DIALER_TITLE"
    sleep 2
}

# measure_idle: CPU seconds per hour and wakeups per second of vantelo and
# both floors over the same SECONDS_IDLE (and of the floor with the details
# when DETAILS_PID names it), and the bytes written by vantelo and by the
# floor rewriting a file.
DETAILS_PID=""
# take_sample N: the counters measure_idle compares, into its variables named
# with N: vc vw (vantelo's CPU and wakeups), fc fw (the floor's), tc tw (the
# floor with the tip's), wb cw (the bytes vantelo wrote and cancelled), fwb fcw
# (the rewriting floor's) and, when DETAILS_PID names it, dc dw (the floor with
# the details').
take_sample()
{
    local n=$1
    printf -v "vc$n" %s "$(cpu_ns "$VANTELO_PID")"
    printf -v "vw$n" %s "$(wakeups "$VANTELO_PID")"
    printf -v "fc$n" %s "$(cpu_ns "$FLOOR_PID")"
    printf -v "fw$n" %s "$(wakeups "$FLOOR_PID")"
    printf -v "tc$n" %s "$(cpu_ns "$TIP_PID")"
    printf -v "tw$n" %s "$(wakeups "$TIP_PID")"
    printf -v "wb$n" %s "$(io_field "$VANTELO_PID" write_bytes)"
    printf -v "cw$n" %s "$(io_field "$VANTELO_PID" cancelled_write_bytes)"
    printf -v "fwb$n" %s "$(io_field "$DISK_PID" write_bytes)"
    printf -v "fcw$n" %s "$(io_field "$DISK_PID" cancelled_write_bytes)"
    [ -z "$DETAILS_PID" ] && return 0
    printf -v "dc$n" %s "$(cpu_ns "$DETAILS_PID")"
    printf -v "dw$n" %s "$(wakeups "$DETAILS_PID")"
}
measure_idle()
{
    local vc0 vw0 fc0 fw0 tc0 tw0 wb0 cw0 t0 t1 vc1 vw1 fc1 fw1 tc1 tw1 wb1 cw1 s fwb0 fcw0 fwb1 fcw1
    local dc0 dw0 dc1 dw1
    t0=$(now_ms)
    take_sample 0
    sleep "$SECONDS_IDLE"
    take_sample 1
    t1=$(now_ms)
    vantelo_alive
    alive "$FLOOR_PID" floor
    alive "$TIP_PID" "floor --tip-every-second"
    alive "$DISK_PID" "floor --rewrite-every-second"
    [ -z "$DETAILS_PID" ] || alive "$DETAILS_PID" "floor --details"
    s=$(calc %.3f "($t1 - $t0) / 1000")
    V_CPUH=$(calc %.2f "($vc1 - $vc0) / 1e9 / $s * 3600")
    V_WAKE=$(calc %.2f "($vw1 - $vw0) / $s")
    F_CPUH=$(calc %.2f "($fc1 - $fc0) / 1e9 / $s * 3600")
    F_WAKE=$(calc %.2f "($fw1 - $fw0) / $s")
    T_CPUH=$(calc %.2f "($tc1 - $tc0) / 1e9 / $s * 3600")
    T_WAKE=$(calc %.2f "($tw1 - $tw0) / $s")
    if [ -n "$DETAILS_PID" ]; then
        FD_CPUH=$(calc %.2f "($dc1 - $dc0) / 1e9 / $s * 3600")
        FD_WAKE=$(calc %.2f "($dw1 - $dw0) / $s")
    fi
    WRITE_B=$((wb1 - wb0)) CANCEL_B=$((cw1 - cw0))
    FLOOR_DISK_B=$(((fwb1 - fwb0) - (fcw1 - fcw0)))
    PERIOD_FROM=$t0 PERIOD_TO=$t1 PERIOD_S=$s
}

start_connected
measure_idle
H_CPUH=$V_CPUH H_WAKE=$V_WAKE HF_CPUH=$F_CPUH HF_WAKE=$F_WAKE HT_CPUH=$T_CPUH HT_WAKE=$T_WAKE
H_WRITE_B=$WRITE_B H_CANCEL_B=$CANCEL_B H_S=$PERIOD_S H_FLOOR_DISK_B=$FLOOR_DISK_B

# The floor doing what the details window does, measured over the same period.
start_measured floor_details "$FLOOR_TITLE" "$BENCH_FLOOR" --details
DETAILS_PID=$PID
# A second start shows the running one's details window while the line is up.
timeout 20 "$VANTELO" >>"$WORK/second.out" 2>>"$WORK/second.err" </dev/null ||
    fail "the second start of vantelo failed"
wait_until 10 "details window \"Session\"" window_shown "$VANTELO_PID" Session
# Measured once both text cursors rest (the window just shown took the
# focus): from then on a cursor costs the same, focused or not.
sleep "$CURSORS_REST"
measure_idle
D_CPUH=$V_CPUH D_WAKE=$V_WAKE DF_CPUH=$F_CPUH DF_WAKE=$F_WAKE
stop "$DETAILS_PID"
DETAILS_PID=""
# Bytes written over both periods. Pages dirtied and then dropped before they
# reached the disk (a file replaced before the system wrote it back) are
# counted as cancelled.
C_S=$(calc %.3f "$H_S + $PERIOD_S")
per_hour() { calc %.3f "($1) / 1e6 / $C_S * 3600"; }
C_WRITE=$(per_hour "$H_WRITE_B + $WRITE_B")
C_CANCEL=$(per_hour "$H_CANCEL_B + $CANCEL_B")
C_DISK=$(per_hour "($H_WRITE_B + $WRITE_B) - ($H_CANCEL_B + $CANCEL_B)")
F_DISK=$(per_hour "$H_FLOOR_DISK_B + $FLOOR_DISK_B")
WAIT_GUARD=""
stop "$VANTELO_PID"

# The syncs: vantelo again, connected and hidden, under strace.
if [ -n "$STRACE" ]; then
    start_connected strace
    measure_idle
    SYNCS=$(awk -v from="$PERIOD_FROM" -v to="$PERIOD_TO" '
        $3 ~ /^(fsync|fdatasync|sync_file_range)\(/ && $2 * 1000 >= from && $2 * 1000 <= to { n++ }
        END { print n + 0 }' "$SYNC_LOG")
    SYNCS_H=$(calc %.0f "$SYNCS / $PERIOD_S * 3600")
    WAIT_GUARD=""
    stop "$VANTELO_PID"
    stop "$STRACE_PID"
fi
stop "$TIP_PID"
stop "$DISK_PID"
stop "$FLOOR_PID"
reset_line

# ---- the monitor tick ----

# The median of five runs of each part of the tick; the tick is their sum.
MEDIANS=5
[ "${BENCH_QUICK:-0}" = 1 ] && MEDIANS=1
"$BENCH_MONITOR_TICK" -median "$MEDIANS" >"$WORK/tick.out" 2>&1 ||
    fail "bench_monitor_tick failed: $(tail -n 5 "$WORK/tick.out")"
TICK_US=$(awk '/msecs per iteration/ { s += $1 * 1000; n++ } END { if (n == 3) printf "%.1f\n", s }' "$WORK/tick.out")
[ -n "$TICK_US" ] || fail "bench_monitor_tick did not report its three parts: $(cat "$WORK/tick.out")"
grep -A1 '^RESULT' "$WORK/tick.out"

# ---- the table ----

echo
echo "Vantelo against the floor: idle periods of ${SECONDS_IDLE}s, start-ups the median of $STARTS"
printf '| %-35s | %-62s | %-30s | %-7s |\n' figure measured goal verdict
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..37})" "$(printf -- '-%.0s' {1..64})" \
    "$(printf -- '-%.0s' {1..32})" "$(printf -- '-%.0s' {1..9})"

r=$(calc %.2f "$VC / $F_CPU")
row "start-up CPU" "vantelo $(calc %.0f "$VC / 1e6") ms, floor $(calc %.0f "$F_CPU / 1e6") ms: ${r}x" \
    "<= 1.2x the floor" "$(verdict "$r <= 1.2")"
# Against the floor with one line of text, as every window showing words
# pays for the system's fonts: what the program costs beyond that.
r=$(calc %.2f "$VC / $FT_CPU")
row "start-up CPU, vs a floor with text" "vantelo $(calc %.0f "$VC / 1e6") ms, floor with text $(calc %.0f "$FT_CPU / 1e6") ms: ${r}x" \
    "<= 1.2x that floor" "$(verdict "$r <= 1.2")"
d=$(calc %+.1f "($VH - $F_HWM) / 1024")
row "start-up peak memory (VmHWM)" "vantelo $(calc %.1f "$VH / 1024") MiB, floor $(calc %.1f "$F_HWM / 1024") MiB: $d MiB" \
    "<= the floor + 8 MiB" "$(verdict "$d <= 8")"
row "hidden in the tray: CPU" "vantelo $H_CPUH s/h, floor $HF_CPUH s/h" "<= 1 s/h" "$(verdict "$H_CPUH <= 1")"
row "hidden in the tray: wakeups" "vantelo $H_WAKE /s, floor $HF_WAKE /s" "<= 2 /s" "$(verdict "$H_WAKE <= 2")"
# Against the floor whose tip changes every second, as Vantelo's does: what
# the program costs beyond its tip's clock.
d=$(calc %+.2f "$H_CPUH - $HT_CPUH")
row "hidden, vs a ticking tip: CPU" "vantelo $H_CPUH s/h, floor with the tip $HT_CPUH s/h: $d s/h" \
    "<= that floor + 1 s/h" "$(verdict "$d <= 1")"
d=$(calc %+.2f "$H_WAKE - $HT_WAKE")
row "hidden, vs a ticking tip: wakeups" "vantelo $H_WAKE /s, floor with the tip $HT_WAKE /s: $d /s" \
    "<= that floor + 0.5 /s" "$(verdict "$d <= 0.5")"
row "details window open: CPU" "vantelo $D_CPUH s/h ($D_WAKE wakeups/s), floor $DF_CPUH s/h ($DF_WAKE /s)" \
    "<= 4 s/h" "$(verdict "$D_CPUH <= 4")"
# Against the floor that shows the same clock and counters: what the program
# costs beyond what its details window must show.
d=$(calc %+.2f "$D_CPUH - $FD_CPUH")
row "details, vs a floor doing the same" \
    "vantelo $D_CPUH s/h, floor with the details $FD_CPUH s/h ($FD_WAKE /s): $d s/h" \
    "<= that floor + 1 s/h" "$(verdict "$d <= 1")"
row "monitor tick CPU (median)" "$TICK_US us" "<= 100 us" "$(verdict "$TICK_US <= 100")"
row "bytes written per hour" \
    "to disk $C_DISK MB/h over ${C_S}s (write_bytes $C_WRITE - cancelled $C_CANCEL)" \
    "<= 0.5 MB/h to disk" "$(verdict "$C_DISK <= 0.5")"
# Against the floor that rewrites a file each second over the same periods:
# what the program writes beyond what its once-a-second call log must.
d=$(calc %+.3f "$C_DISK - $F_DISK")
row "bytes written, vs a floor rewriting" \
    "vantelo $C_DISK MB/h, floor rewriting a file each second $F_DISK MB/h: $d MB/h" \
    "<= that floor + 0.5 MB/h" "$(verdict "$d <= 0.5")"
if [ -n "$STRACE" ]; then
    per_tick=$(calc %.2f "$SYNCS / $PERIOD_S")
    row "syncs per hour" "$SYNCS_H /h ($SYNCS in ${PERIOD_S}s: $per_tick per tick)" \
        "no sync per tick (<= 0.5/tick)" "$(verdict "$per_tick <= 0.5")"
else
    row "syncs per hour" "$SYNC_NOTE" "no sync per tick (<= 0.5/tick)" "-"
fi
for n in "${SIZES[@]}"; do
    [ "$n" = 1 ] && continue
    goal=1.2
    [ "$n" -ge 100000 ] && goal=2
    if [ -n "${SHOWN_AT[$n]}" ]; then
        r=$(calc %.2f "${SHOWN_AT[$n]} / $SHOWN_1")
        row "start-up at $n entries" "${SHOWN_AT[$n]} ms, 1 entry ${SHOWN_1} ms: ${r}x" \
            "<= ${goal}x the 1-entry start-up" "$(verdict "$r <= $goal")"
    else
        row "start-up at $n entries" "no window within ${START_LIMIT}s" "<= ${goal}x the 1-entry start-up" misses
    fi
done
for n in "${SIZES[@]}"; do
    limit=0.1
    [ "$n" -ge 100000 ] && limit=1
    what="$n entries"
    [ "$n" = 1 ] && what="1 entry"
    if [ -n "${LIST_MS[$n]}" ]; then
        s=$(calc %.3f "${LIST_MS[$n]} / 1000")
        row "vantelo-line list at $what" "$s s" "<= $limit s" "$(verdict "$s <= $limit")"
    else
        row "vantelo-line list at $what" "more than ${LIST_LIMIT} s (ended)" "<= $limit s" misses
    fi
done
echo
log "$ROWS figures measured"
exit 0
