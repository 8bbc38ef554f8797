#!/bin/bash
# The real modem line without Vantelo, run inside the guest by guest_init.sh:
# the shipped peers file with the system's own pppd and chat against an ISP's
# pppd behind a modem. When these pass and the line tool's cases fail, the
# fault is in Vantelo, not in the line.
#
# Environment: ART (results), PPP_DIR (tests/ppp), EMULATOR (modem emulator).

# Cases and checks run through run_case and wait_until; "A && B || fail"
# fails when either A or B does; eval'd conditions are quoted on purpose.
# shellcheck disable=SC2317,SC2015,SC2016
# shellcheck source=guest_lib.sh
. "$PPP_DIR/guest_lib.sh"

# dial NUMBER [pppd options]: the AT dialog with chat on the modem line, then
# pppd with the shipped peers file on the same line, as Vantelo runs it: both
# as the lab's user, whose groups let it open the modem and run pppd.
# Sets CLIENT_PID.
dial()
{
    local number=$1
    shift
    exec 5<>"$MODEM" || fail "cannot open $MODEM"
    stty -F "$MODEM" raw -echo 2>/dev/null
    (as_user chat -t 10 -r "$RUN/report" ABORT BUSY ABORT 'NO CARRIER' REPORT CONNECT \
        '' ATZ OK "ATDT$number" CONNECT) <&5 >&5 2>>"$RUN/chat.log"
    CHAT_STATUS=$?
    if [ "$CHAT_STATUS" = 0 ]; then
        as_user pppd call vantelo nodetach user "$ACCOUNT" passwordfd 3 logfd 4 "$@" \
            3< <(printf %s "${PASSWORD_USED:-$PASSWORD}") 4>>"$RUN/client.log" <&5 >&5 5<&- &
        CLIENT_PID=$!
        started "$CLIENT_PID"
    fi
    exec 5<&-
}

# Whether the link is up, failing the case at once when the client's pppd
# has ended.
client_link_up()
{
    link_up && return 0
    kill -0 "$CLIENT_PID" 2>/dev/null && return 1
    wait "$CLIENT_PID"
    fail "pppd ended with status $? before the link was up: $(tail -n 3 "$RUN/client.log" | tr '\n' ' ')"
}

# up_and_down AUTH PINGS: dials, checks the link, its counters on both ends
# and the hang-up.
up_and_down()
{
    local auth=$1 pings=$2 t0 tx0 rx0 isp_rx0 isp_tx0 isp
    start_modem "$auth"
    t0=$(now_ms)
    dial 0860
    [ "$CHAT_STATUS" = 0 ] || fail "chat ended with status $CHAT_STATUS"
    grep -q 'CONNECT 28800' "$RUN/report" || fail "no CONNECT 28800 reported: $(cat "$RUN/report")"
    wait_until 20 "ppp0 with an address" client_link_up
    note "up in $(since "$t0")s"
    [ "$(if_addr ppp0)" = 10.0.0.2 ] || fail "ppp0 has the address $(if_addr ppp0), expected 10.0.0.2"
    local method=PAP
    [ "$auth" = require-chap ] && method=CHAP
    grep -q "$method authentication succeeded" "$RUN/client.log" ||
        fail "the client log does not say $method authentication succeeded"
    isp=$(isp_pid)
    [ -n "$isp" ] || fail "no pid file of the ISP's pppd"
    tx0=$(counter ppp0 tx_bytes)
    rx0=$(counter ppp0 rx_bytes)
    isp_rx0=$(ip netns exec isp cat /sys/class/net/ppp1/statistics/rx_bytes)
    isp_tx0=$(ip netns exec isp cat /sys/class/net/ppp1/statistics/tx_bytes)
    ping_isp "$pings"
    local sent=$(($(counter ppp0 tx_bytes) - tx0)) got=$(($(counter ppp0 rx_bytes) - rx0))
    local isp_got=$(($(ip netns exec isp cat /sys/class/net/ppp1/statistics/rx_bytes) - isp_rx0))
    local isp_sent=$(($(ip netns exec isp cat /sys/class/net/ppp1/statistics/tx_bytes) - isp_tx0))
    # An echo request of ping's default size is 84 bytes of IP.
    [ "$sent" -ge $((pings * 84)) ] || fail "ppp0 sent $sent bytes for $pings pings"
    [ "$got" -ge $((pings * 84)) ] || fail "ppp0 received $got bytes for $pings pings"
    [ "$sent" = "$isp_got" ] && [ "$got" = "$isp_sent" ] ||
        fail "counters disagree: client sent $sent, ISP got $isp_got; ISP sent $isp_sent, client got $got"
    note "$pings pings, $sent/$got bytes, both ends agree;"
    t0=$(now_ms)
    kill -TERM "$CLIENT_PID"
    wait "$CLIENT_PID"
    local status=$?
    [ "$status" = 5 ] || fail "pppd ended the hang-up with status $status, expected 5"
    wait_until 5 "ppp0 gone" link_gone
    wait_until 5 "end of the ISP's pppd $isp" eval "! kill -0 $isp 2>/dev/null"
    note "down in $(since "$t0")s"
}

case_pap() { up_and_down require-pap 5; }
case_chap() { up_and_down require-chap 2; }

case_wrong_password()
{
    start_modem require-pap
    PASSWORD_USED=not-the-password dial 0860
    [ "$CHAT_STATUS" = 0 ] || fail "chat ended with status $CHAT_STATUS"
    wait "$CLIENT_PID"
    local status=$?
    grep -q 'PAP authentication failed' "$RUN/client.log" ||
        fail "the client log does not say PAP authentication failed"
    # 19: we failed to authenticate. When the line drops while pppd is
    # still closing the link (the ISP hangs up after refusing), pppd ends
    # with 16 instead: only its log tells the refusal from a lost carrier.
    [ "$status" = 19 ] || [ "$status" = 16 ] ||
        fail "pppd ended with status $status, expected 19 (or 16 when the line dropped first)"
    link_gone || fail "ppp0 exists after a refused password"
    note "pppd status $status, PAP authentication failed"
}

case_busy()
{
    start_modem require-pap --on 0861=busy
    dial 0861
    # chat's first ABORT string is BUSY: status 4.
    [ "$CHAT_STATUS" = 4 ] || fail "chat ended with status $CHAT_STATUS, expected 4 (BUSY)"
    note "chat status 4"
}

case_carrier_lost()
{
    start_modem require-pap
    dial 0860
    [ "$CHAT_STATUS" = 0 ] || fail "chat ended with status $CHAT_STATUS"
    wait_until 20 "ppp0 with an address" client_link_up
    local isp
    isp=$(isp_pid)
    kill -USR1 "$MODEM_PID"
    wait "$CLIENT_PID"
    local status=$?
    [ "$status" = 16 ] || fail "pppd ended with status $status, expected 16 (modem hang-up)"
    grep -q 'Modem hangup' "$RUN/client.log" || fail "the client log does not say Modem hangup"
    wait_until 5 "ppp0 gone" link_gone
    wait_until 5 "end of the ISP's pppd" eval "! kill -0 $isp 2>/dev/null"
    note "pppd status 16, Modem hangup"
}

run_case link-pap case_pap
run_case link-chap case_chap
run_case link-wrong-pw case_wrong_password
run_case link-busy case_busy
run_case link-carrier case_carrier_lost
exit $FAILED
