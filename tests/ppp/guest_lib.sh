# Helpers for the case scripts run inside the guest (sourced, not run).
# shellcheck shell=bash disable=SC2034 # variables for the case scripts
#
# A case is a shell function run in a subshell by run_case; it ends at the
# first failed check (fail prints the reason and leaves the subshell). Every
# background process a case starts is registered with `started PID` and is
# ended after the case, pass or fail. Results go to ART/results.txt:
#   PASS  NAME  SECONDS  what was seen
#   FAIL  NAME  SECONDS  why

RUN=/run/cases
# The lab's user writes there too (chat's report, its own logs).
mkdir -p "$RUN" && chmod 1777 "$RUN"
RESULTS=$ART/results.txt
FAILED=0

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Seconds with one decimal since START_MS (ms).
since() { local d=$(($(now_ms) - $1)); printf '%d.%d' $((d / 1000)) $((d % 1000 / 100)); }

log() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }

fail()
{
    log "FAIL: $*"
    echo "$*" >"$RUN/reason"
    exit 1
}

# Adds words to the case's result line.
note() { echo -n "$* " >>"$RUN/notes"; log "$*"; }

started() { echo "$1" >>"$RUN/pids"; }

# as_user [NAME --] COMMAND...: runs COMMAND as the ordinary user NAME (the
# lab's user, LAB_USER, by default), with that user's groups, home and XDG
# folders and nothing else of root's environment but the display, the
# session bus and the Qt platform. COMMAND replaces the subshell's process,
# so when as_user runs in the background, $! is the program's own pid.
as_user()
{
    local name=$LAB_USER
    if [ "${2:-}" = -- ]; then
        name=$1
        shift 2
    fi
    local uid home
    uid=$(id -u "$name") || fail "no user $name"
    home=$(user_home "$name")
    exec setpriv --reuid="$name" --regid="$name" --init-groups \
        env -i PATH="$PATH" LC_ALL="$LC_ALL" USER="$name" LOGNAME="$name" HOME="$home" \
        XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
        XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="/run/user/$uid" \
        ${DISPLAY:+DISPLAY="$DISPLAY"} ${QT_QPA_PLATFORM:+QT_QPA_PLATFORM="$QT_QPA_PLATFORM"} \
        ${DBUS_SESSION_BUS_ADDRESS:+DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"} "$@"
}
# (as_user execs: call it in a subshell, "(as_user ...)", or in the background.)

# user_home NAME: the home folder of NAME.
user_home() { getent passwd "$1" | cut -d: -f6; }

# wait_until SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s, fails the
# case with "no WHAT within SECONDS s", followed by SEEN if COMMAND set it
# (what it saw last).
wait_until()
{
    local seconds=$1 what=$2
    shift 2
    local deadline=$(($(now_ms) + seconds * 1000))
    SEEN=""
    until "$@"; do
        [ "$(now_ms)" -ge "$deadline" ] && fail "no $what within ${seconds}s${SEEN:+; last seen: $SEEN}"
        sleep 0.1
    done
}

# Ends what the case left running: first politely, then for good.
end_started()
{
    local pid
    [ -f "$RUN/pids" ] || return 0
    mapfile -t pids <"$RUN/pids"
    rm -f "$RUN/pids"
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 30); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
    done
}

# run_case NAME FUNCTION: runs one case and records its result.
run_case()
{
    local name=$1 fn=$2 start status
    rm -f "$RUN/reason" "$RUN/notes"
    log "===== $name"
    start=$(now_ms)
    ("$fn")
    status=$?
    local took
    took=$(since "$start")
    "${CASE_CLEANUP:-true}"
    end_started
    if [ $status = 0 ]; then
        printf 'PASS  %-14s %5ss  %s\n' "$name" "$took" "$(cat "$RUN/notes" 2>/dev/null)" >>"$RESULTS"
    else
        FAILED=1
        printf 'FAIL  %-14s %5ss  %s\n' "$name" "$took" "$(cat "$RUN/reason" 2>/dev/null || echo "status $status")" >>"$RESULTS"
    fi
    log "===== $name: status $status after ${took}s"
    keep_logs "$name"
    return $status
}

# ---- the link as the kernel sees it ----

# The IPv4 address of an interface, or nothing.
if_addr() { ip -4 -o addr show dev "$1" 2>/dev/null | awk '{ sub("/.*", "", $4); print $4; exit }'; }
isp_if_addr() { ip -n isp -4 -o addr show dev "$1" 2>/dev/null | awk '{ sub("/.*", "", $4); print $4; exit }'; }

link_up() { [ -n "$(if_addr ppp0)" ] && [ -n "$(isp_if_addr ppp1)" ]; }
link_gone() { [ ! -e /sys/class/net/ppp0 ]; }

counter() { cat "/sys/class/net/$1/statistics/$2"; }

# pings COUNT: echo requests to the ISP's end over ppp0, all must come back.
ping_isp()
{
    local out
    out=$(ping -n -c "$1" -i 0.2 -W 2 -I ppp0 10.0.0.1 2>&1) || fail "ping over ppp0 failed: $(echo "$out" | tail -n 2 | tr '\n' ' ')"
    echo "$out" | grep -q " $1 received" || fail "not every ping came back: $(echo "$out" | tail -n 2 | tr '\n' ' ')"
}

# The pid of the ISP's pppd while its link is up (it names its interface ppp1).
isp_pid() { cat /run/ppp1.pid 2>/dev/null; }

# ---- the ISP behind the modem ----

# The ISP program the modem starts on each answered call: pppd in the
# namespace isp on the emulator's end of the line. AUTH is require-pap or
# require-chap; its log goes to RUN/isp.log.
isp_command()
{
    echo ip netns exec isp /run/lab/isp-pppd "$1" unit 1 logfile "$RUN/isp.log" ${PPP_DEBUG:+debug}
}

# The modem's line and the test subscriber's account at the ISP (etc-ppp/).
MODEM=/run/modem
ACCOUNT=vantelo
PASSWORD=line-pw-28800

# start_modem AUTH [emulator options]: the modem emulator on MODEM at 28800
# bit/s, with the ISP's pppd behind it (AUTH: require-pap or require-chap).
# Its line is root:dialout 0660, as a modem's device is (the guest's ptys
# belong to dialout). Sets MODEM_PID.
start_modem()
{
    local auth=$1
    shift
    rm -f "$RUN/modem.ready"
    # shellcheck disable=SC2046 # the ISP's command line, split into words
    "$EMULATOR" --link "$MODEM" --ready "$RUN/modem.ready" --log "$RUN/modem.log" \
        --speed 28800 --hold-until-isp --line-mode 660 "$@" -- $(isp_command "$auth") &
    MODEM_PID=$!
    started "$MODEM_PID"
    wait_until 5 "modem on $MODEM" test -s "$RUN/modem.ready"
}

# modem_entry NAME: the phonebook entry NAME on the emulator's line, with the
# shipped peers file.
modem_entry()
{
    printf '[%s]\nDevice=%s\nSpeed=115200\nInit=ATZ\nTimeout=60\nPeer=vantelo\n' "$1" "$MODEM"
}

# write_modem_entry NAME [USER]: a phonebook of that one entry, written by USER
# (LAB_USER by default) in that user's configuration folder.
write_modem_entry()
{
    local user=${2:-$LAB_USER} home
    home=$(user_home "$user")
    (as_user "$user" -- mkdir -p "$home/.config/vantelo") || fail "cannot make the configuration folder of $user"
    modem_entry "$1" | (as_user "$user" -- tee "$home/.config/vantelo/rasphone.pbk" >/dev/null) ||
        fail "cannot write the phonebook of $user"
}

# Copies a case's logs next to the results.
keep_logs()
{
    local name=$1 f
    for f in "$RUN"/*.log; do
        [ -f "$f" ] || continue
        cp "$f" "$ART/logs/$name-$(basename "$f")"
    done
    rm -f "$RUN"/*.log
}
mkdir -p "$ART/logs"
