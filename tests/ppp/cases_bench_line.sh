#!/bin/bash
# Vantelo beside the dialers a user would pick instead, on the same line: run
# inside the guest by guest_init.sh, each as root against the same
# modem emulator, paced at the speed it reports in CONNECT (28 800 bit/s, 2 880
# bytes a second each way), and the same ISP's pppd:
#   vantelo      vantelo-line dial, the modem entry
#   pppd+chat    chat's AT dialogue, then pppd with the shipped peers file
#   wvdial       Debian's wvdial with its own defaults and a minimal wvdial.conf
# For each: the time from the dial to the first ping answered over ppp0 (the
# median of DIALS), the throughput of a transfer of BENCH_KIB KiB of text and
# of random bytes from the ISP over ppp0 as a share of the line's rate, and
# what it reports for a busy line, a wrong password and a lost carrier.
#
# The figures go to ART/bench-line.tsv (dialer, figure, value) and each
# dialer's words to ART/reports/; the table is printed on the host by
# bench_line_table.sh. Environment: ART, PPP_DIR, LINE_TOOL, EMULATOR,
# BENCH_KIB (256), BENCH_DIALS (3).

# shellcheck disable=SC2317,SC2015,SC2016
# shellcheck source=guest_lib.sh
. "$PPP_DIR/guest_lib.sh"

KIB=${BENCH_KIB:-256}
DIALS=${BENCH_DIALS:-3}
SPEED=28800
ENTRY="ISP Modem"
TSV=$ART/bench-line.tsv
: >"$TSV"
mkdir -p "$ART/reports"
# Every dialer runs as root here, so that none pays for a change of user the
# others do not (the lab's other cases run Vantelo as an ordinary user):
# root's own home and folders, its phonebook with the modem entry.
export HOME=/run/bench-home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=/run/user/0
mkdir -p "$XDG_CONFIG_HOME/vantelo" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$HOME" "$XDG_RUNTIME_DIR"
modem_entry "$ENTRY" >"$XDG_CONFIG_HOME/vantelo/rasphone.pbk"
figure() { printf '%s\t%s\t%s\n' "$1" "$2" "$3" >>"$TSV"; }

# The payloads the ISP sends, made once: text (this project's own sources,
# over and over) and random bytes.
PAYLOADS=$RUN/payloads
mkdir -p "$PAYLOADS"
while [ "$(stat -c %s "$PAYLOADS/text" 2>/dev/null || echo 0)" -lt $((KIB * 1024)) ]; do
    cat "$PPP_DIR"/*.sh >>"$PAYLOADS/text"
done
truncate -s $((KIB * 1024)) "$PAYLOADS/text"
head -c $((KIB * 1024)) /dev/urandom >"$PAYLOADS/random"

# wvdial's configuration: the modem, the number and the account, as its manual
# asks for them; everything else is wvdial's own default. Its pppd runs with
# the peers file wvdial's package installs.
WVDIAL_CONF=$HOME/wvdial.conf
cat >"$WVDIAL_CONF" <<EOF
[Dialer Defaults]
Modem = $MODEM
Baud = 115200
Init1 = ATZ
Phone = 0860
Username = $ACCOUNT
Password = $PASSWORD
Stupid Mode = yes
Carrier Check = no
Auto Reconnect = off
EOF

# ---- one call with each dialer: start_dial DIALER NUMBER PASSWORD, end_call DIALER ----

# Each dialer's own program is started directly, as a user would start it
# (no wrapper that would cost it a program start the others do not pay);
# end_call ends what is left.
start_dial()
{
    local dialer=$1 number=$2 password=$3
    : >"$RUN/$dialer.out"
    case $dialer in
    vantelo)
        printf '%s\n' "$password" | "$LINE_TOOL" dial "$ENTRY" --user "$ACCOUNT" \
            --password-stdin --number "$number" --wait >>"$RUN/$dialer.out" 2>&1 &
        DIALER_PID=$!
        ;;
    pppd+chat)
        (
            exec 5<>"$MODEM" || exit 1
            stty -F "$MODEM" raw -echo 2>/dev/null
            (chat -t 60 ABORT BUSY ABORT 'NO CARRIER' ABORT 'NO DIALTONE' ABORT 'NO ANSWER' \
                '' ATZ OK "ATDT$number" CONNECT) <&5 >&5 2>>"$RUN/$dialer.out"
            status=$?
            [ $status = 0 ] || { echo "chat: exit status $status" >>"$RUN/$dialer.out"; exit $status; }
            exec pppd call vantelo nodetach user "$ACCOUNT" passwordfd 3 \
                3< <(printf %s "$password") <&5 >&5 5<&- 2>>"$RUN/$dialer.out"
        ) &
        DIALER_PID=$!
        ;;
    wvdial)
        local conf=$WVDIAL_CONF
        if [ "$number" != 0860 ] || [ "$password" != "$PASSWORD" ]; then
            conf=$RUN/wvdial-$number.conf
            sed -e "s/^Phone = .*/Phone = $number/" -e "s/^Password = .*/Password = $password/" \
                "$WVDIAL_CONF" >"$conf"
            chmod 644 "$conf"
        fi
        # (As an ordinary user it cannot put the account into /etc/ppp's
        # secrets files, and the ISP refuses its pppd: its manual has it run by root.)
        wvdial --config "$conf" >>"$RUN/$dialer.out" 2>&1 &
        DIALER_PID=$!
        ;;
    esac
    started "$DIALER_PID"
}

end_call()
{
    case $1 in
    vantelo) (timeout 30 "$LINE_TOOL" hangup) >/dev/null 2>&1 ;;
    # pppd + chat's process is pppd itself once the dialogue is over; wvdial
    # ends its own pppd.
    *) kill -TERM "$DIALER_PID" 2>/dev/null ;;
    esac
    for _ in $(seq 100); do
        kill -0 "$DIALER_PID" 2>/dev/null || break
        sleep 0.1
    done
    # A dialer that has not ended its pppd by then (wvdial takes its time) has
    # it ended: the next call must find the line free.
    if ! link_gone; then
        pkill -TERM -f '^(/usr/sbin/)?pppd .*call (vantelo|wvdial)' 2>/dev/null
        log "$1 had not ended its pppd 10 s after being told to"
    fi
    wait_until 10 "ppp0 gone after the call of $1" link_gone
    wait_until 10 "no pppd left after the call of $1" eval '! pgrep -x pppd >/dev/null'
    wait "$DIALER_PID" 2>/dev/null
}

# First ping answered over ppp0, polled every 0.1 s.
ping_answered() { [ -n "$(if_addr ppp0)" ] && ping -n -c 1 -W 1 -I ppp0 10.0.0.1 >/dev/null 2>&1; }

# dial_to_ping DIALER: seconds from the dial to the first ping answered.
dial_to_ping()
{
    local dialer=$1 t0
    start_modem require-pap --pace
    t0=$(now_ms)
    start_dial "$dialer" 0860 "$PASSWORD"
    wait_until 60 "a ping answered over ppp0 after $dialer's dial" ping_answered
    ELAPSED=$(since "$t0")
}

# transfer KIND: the ISP sends the payload over TCP; its throughput as a share
# of the line's rate (bytes a second over SPEED / 10), checked byte for byte.
transfer()
{
    local kind=$1 t0 ms got
    ip netns exec isp socat -u "FILE:$PAYLOADS/$kind" TCP-LISTEN:9000,reuseaddr,bind=10.0.0.1 2>>"$RUN/socat.log" &
    started $!
    wait_until 5 "the ISP's sender" eval 'ip netns exec isp ss -ltn | grep -q ":9000 "'
    t0=$(now_ms)
    timeout $((KIB * 2 + 30)) socat -u TCP:10.0.0.1:9000 "CREATE:$RUN/got" 2>>"$RUN/socat.log" ||
        fail "the $kind transfer failed: $(tail -n 2 "$RUN/socat.log")"
    ms=$(($(now_ms) - t0))
    cmp -s "$PAYLOADS/$kind" "$RUN/got" || fail "the $kind transfer came back changed ($(stat -c %s "$RUN/got") bytes)"
    got=$(stat -c %s "$RUN/got")
    SHARE=$(awk -v b="$got" -v ms="$ms" -v r=$((SPEED / 10)) 'BEGIN { printf "%.1f", b / (ms / 1000) / r * 100 }')
}

# ---- the cases: one per dialer, each figure a line of the TSV ----

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

bench_dialer()
{
    local dialer=$1 times=() i
    for ((i = 1; i <= DIALS; i++)); do
        dial_to_ping "$dialer"
        times+=("$ELAPSED")
        if [ "$i" -lt "$DIALS" ]; then
            end_call "$dialer"
            end_started_modem
        fi
    done
    figure "$dialer" dial-to-ping "$(printf '%s\n' "${times[@]}" | median)"
    note "dial to ping ${times[*]} s;"
    transfer text
    figure "$dialer" text "$SHARE"
    transfer random
    figure "$dialer" random "$SHARE"
    note "text $(awk -F '\t' -v d="$dialer" '$1 == d && $2 == "text" { print $3 }' "$TSV")%, random $SHARE%"
    end_call "$dialer"
}

# What a dialer tells its user when the call fails: the last lines of its
# output that say something (wvdial's progress, vantelo-line's steps and the
# modem's own echo left out), at most three.
report_of()
{
    local dialer=$1 kind=$2 words
    cp "$RUN/$dialer.out" "$ART/reports/$dialer-$kind.txt"
    words=$(grep -v -e '^\s*$' -e '^--> WvDial: Internet dialer version' -e '^--> Cannot get information for serial port' \
        -e '^--> Initializing modem' -e '^--> Sending: ' -e '^--> Waiting for' -e '^AT' -e '^OK' -e '^CONNECT' \
        -e '^--> Modem initialized' -e '^--> Carrier detected' -e '^--> Starting pppd' -e '^--> Warning: Could not modify' \
        -e '^--> --> ' -e '^--> Pid of pppd' -e '^--> Using interface' -e '^--> \(local\|remote\) ' -e '^--> Connect time' \
        -e '^--> Disconnecting at' -e '^--> Try again and look' -e '^Dialing .* (handle [0-9]*)\.$' -e '\.\.\.$' -e '^Connected\.$' \
        "$RUN/$dialer.out" | tr '\t' ' ' | tail -n 3 | paste -sd '|')
    figure "$dialer" "$kind" "${words:-(nothing)}"
}

fails_with()
{
    local dialer=$1 kind=$2
    case $kind in
    busy)
        start_modem require-pap --pace --on 0861=busy
        start_dial "$dialer" 0861 "$PASSWORD"
        ;;
    wrong-password)
        start_modem require-pap --pace
        start_dial "$dialer" 0860 not-the-password
        ;;
    carrier-lost)
        start_modem require-pap --pace
        start_dial "$dialer" 0860 "$PASSWORD"
        wait_until 60 "the link of $dialer up" ping_answered
        kill -USR1 "$MODEM_PID"
        ;;
    esac
    # Until the dialer ends, or has said what happened and goes on by itself
    # (wvdial redials a busy line; vantelo-line's dial --wait has returned
    # before the carrier is lost), 20 s at most.
    for _ in $(seq 200); do
        kill -0 "$DIALER_PID" 2>/dev/null || break
        [ "$dialer" = wvdial ] && [ "$kind" = busy ] && grep -q BUSY "$RUN/$dialer.out" && break
        sleep 0.1
    done
    if [ "$dialer" = vantelo ] && [ "$kind" = carrier-lost ]; then
        wait_until 20 "vantelo's line no longer connected" eval '[ "$(line_state)" != Connected ]'
    fi
    # pppd + chat say nothing themselves: what the user has is their exit status.
    if [ "$dialer" = pppd+chat ] && ! kill -0 "$DIALER_PID" 2>/dev/null; then
        wait "$DIALER_PID"
        local status=$?
        grep -q '^chat: exit status' "$RUN/$dialer.out" || echo "pppd: exit status $status" >>"$RUN/$dialer.out"
    fi
    if [ "$dialer" = vantelo ] && [ "$kind" = carrier-lost ]; then
        (timeout 10 "$LINE_TOOL" status) >>"$RUN/$dialer.out" 2>&1
    fi
    report_of "$dialer" "$kind"
    end_call "$dialer"
}
line_state() { (timeout 10 "$LINE_TOOL" status --json) 2>/dev/null | jq -r '.connections[0].state // "none"'; }

end_started_modem()
{
    kill -TERM "$MODEM_PID" 2>/dev/null
    wait "$MODEM_PID" 2>/dev/null
}

case_dialer()
{
    local dialer=$1 kind
    bench_dialer "$dialer"
    end_started_modem
    for kind in busy wrong-password carrier-lost; do
        fails_with "$dialer" "$kind"
        end_started_modem
    done
}
case_vantelo() { case_dialer vantelo; }
case_pppd_chat() { case_dialer pppd+chat; }
case_wvdial() { case_dialer wvdial; }

after_bench_case()
{
    (timeout 10 "$LINE_TOOL" hangup) >/dev/null 2>&1
    pkill -TERM -x wvdial 2>/dev/null
    pkill -TERM -x pppd 2>/dev/null
    for f in "$RUN"/*.out; do [ -f "$f" ] && cp "$f" "$RUN/$(basename "$f" .out)-output.log"; done
}
CASE_CLEANUP=after_bench_case

command -v wvdial >/dev/null || { echo "FAIL  wvdial  -  wvdial is not installed (scripts/install-deps.sh bench-line)" >>"$RESULTS"; exit 1; }
run_case vantelo case_vantelo
run_case pppd+chat case_pppd_chat
run_case wvdial case_wvdial
exit $FAILED
