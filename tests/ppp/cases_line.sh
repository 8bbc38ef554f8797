#!/bin/bash
# The modem line through vantelo-line, run inside the guest by guest_init.sh:
# the line tool opens the emulated modem, dials it with AT commands and hands
# the line to the system's pppd, which negotiates a real PPP link with the
# ISP's pppd behind the modem. Checked from outside: the tool's exit status,
# words and JSON, the kernel's ppp0 and its counters, ping over the link, the
# modem's log of what it was told, and what is left after each call.
#
# Environment: ART (results), PPP_DIR (tests/ppp), LINE_TOOL, EMULATOR, and
# the HOME and XDG folders that guest_init.sh made on the guest's tmpfs.

# Cases and checks run through run_case and wait_until; "A && B || fail"
# fails when either A or B does; eval'd conditions are quoted on purpose.
# shellcheck disable=SC2317,SC2015,SC2016
# shellcheck source=guest_lib.sh
. "$PPP_DIR/guest_lib.sh"

ENTRY="ISP Modem"
write_modem_entry "$ENTRY"
CALL_LOG=$XDG_RUNTIME_DIR/vantelo/modem.log

# The line tool, as the lab's user.
line() { (as_user timeout 60 "$LINE_TOOL" "$@"); }

# dial NUMBER PASSWORD: vantelo-line dial --wait, the password on its
# standard input as a user would type it, never on a command line; sets
# DIAL_STATUS, DIAL_ERR (its standard error) and DIAL_TIME (seconds).
dial()
{
    local t0
    t0=$(now_ms)
    printf '%s\n' "$2" | line dial "$ENTRY" --user "$ACCOUNT" --password-stdin --number "$1" --wait \
        >"$RUN/dial.out" 2>"$RUN/dial.err"
    DIAL_STATUS=$?
    DIAL_TIME=$(since "$t0")
    DIAL_ERR=$(cat "$RUN/dial.err")
    log "dial $1: status $DIAL_STATUS after ${DIAL_TIME}s; $(tr '\n' '|' <"$RUN/dial.out") $DIAL_ERR"
}

dial_fails_with()
{
    [ "$DIAL_STATUS" = 1 ] || fail "dial ended with status $DIAL_STATUS, expected 1 ($DIAL_ERR)"
    grep -q "^vantelo-line: error $1: ." <<<"$DIAL_ERR" ||
        fail "dial said \"$DIAL_ERR\", expected \"vantelo-line: error $1: ...\""
}

# The first connection of status --json, compact, or "null".
call_json()
{
    line status --json 2>>"$RUN/status.err" | jq -c '.connections[0]' 2>/dev/null || echo null
}
call_field() { jq -r ".$1" <<<"$CALL"; }
connections() { line status --json 2>>"$RUN/status.err" | jq '.connections | length' 2>/dev/null; }
no_connection() { [ "$(connections)" = 0 ]; }

# expect_call FIELD=VALUE...: the fields of CALL, as jq prints them.
expect_call()
{
    local pair
    for pair in "$@"; do
        [ "$(call_field "${pair%%=*}")" = "${pair#*=}" ] ||
            fail "status --json has ${pair%%=*} $(call_field "${pair%%=*}"), expected ${pair#*=}: $CALL"
    done
}

# True once status --json shows the first call Disconnected; CALL holds what
# it showed, and SEEN too for a wait's report.
call_disconnected()
{
    CALL=$(call_json)
    SEEN=$CALL
    [[ $(call_field state) == Disconnected* ]]
}

modem_said() { grep -qx "$1" "$RUN/modem.log"; }

# The status's byte counters against the kernel's, read just before and
# just after: the status must lie between them.
check_bytes_match_kernel()
{
    local tx0 rx0 tx1 rx1 sent got
    tx0=$(counter ppp0 tx_bytes)
    rx0=$(counter ppp0 rx_bytes)
    CALL=$(call_json)
    tx1=$(counter ppp0 tx_bytes)
    rx1=$(counter ppp0 rx_bytes)
    sent=$(call_field bytesSent)
    got=$(call_field bytesReceived)
    [ "$sent" -ge "$tx0" ] && [ "$sent" -le "$tx1" ] ||
        fail "bytesSent is $sent, the kernel's ppp0 tx_bytes $tx0..$tx1"
    [ "$got" -ge "$rx0" ] && [ "$got" -le "$rx1" ] ||
        fail "bytesReceived is $got, the kernel's ppp0 rx_bytes $rx0..$rx1"
}

# While a call is up: the password is in no process's arguments or
# environment, and in no file that another user (nogroups) can read in the
# guest's writable folders (/run holds what the guest wrote to /tmp and
# /var/tmp too).
check_password_hidden()
{
    # (Read with the shell's own mapfile: a program started per process would
    # take the emulated guest half a minute.)
    local dir words=()
    for dir in /proc/[0-9]*; do
        mapfile -d '' -t words <"$dir/cmdline" 2>/dev/null || continue
        [[ "${words[*]}" != *"$PASSWORD"* ]] ||
            fail "the password is on the command line of ${dir#/proc/}: ${words[*]}"
        mapfile -d '' -t words <"$dir/environ" 2>/dev/null || continue
        [[ "${words[*]}" != *"$PASSWORD"* ]] ||
            fail "the password is in the environment of ${dir#/proc/}"
    done
    local found
    found=$( (as_user nogroups -- grep -rlsF -- "$PASSWORD" /run /dev/shm) 2>/dev/null)
    [ -z "$found" ] || fail "another user can read the password in: $(echo "$found" | tr '\n' ' ')"
}

# up_and_down AUTH PINGS: a whole call: dial, the link as the tool and the
# kernel see it, traffic and its counters, hang-up and what is left after.
up_and_down()
{
    local auth=$1 pings=$2 sent0 got0 isp t0
    start_modem "$auth"
    dial 0860 "$PASSWORD"
    [ "$DIAL_STATUS" = 0 ] || fail "dial ended with status $DIAL_STATUS: $DIAL_ERR"
    note "connected in ${DIAL_TIME}s;"
    modem_said "CMD ATZ" && modem_said "CMD ATDT0860" ||
        fail "the modem was not sent ATZ and ATDT0860: $(grep CMD "$RUN/modem.log" | tr '\n' ' ')"

    check_password_hidden
    CALL=$(call_json)
    expect_call "entry=$ENTRY" state=Connected rasconnstate=8192 error=0 errorText= \
        kind=modem "device=$MODEM" interface=ppp0 speed=28800
    wait_until 5 "address on ppp0" eval '[ -n "$(if_addr ppp0)" ]'
    [ "$(if_addr ppp0)" = 10.0.0.2 ] || fail "ppp0 has the address $(if_addr ppp0), expected 10.0.0.2"
    isp=$(isp_pid)
    [ -n "$isp" ] || fail "the ISP's pppd has no link up"
    local method=PAP
    [ "$auth" = require-chap ] && method=CHAP
    grep -q "pppd: $method authentication succeeded" "$CALL_LOG" ||
        fail "the call's log does not say pppd's $method authentication succeeded"

    check_bytes_match_kernel
    sent0=$(call_field bytesSent)
    got0=$(call_field bytesReceived)
    ping_isp "$pings"
    check_bytes_match_kernel
    # An echo request and its reply of ping's default size: 84 bytes of IP each.
    [ $(($(call_field bytesSent) - sent0)) -ge $((pings * 84)) ] &&
        [ $(($(call_field bytesReceived) - got0)) -ge $((pings * 84)) ] ||
        fail "the counters did not grow by $pings pings: sent $sent0 -> $(call_field bytesSent), received $got0 -> $(call_field bytesReceived)"
    note "$pings pings, bytes $(call_field bytesSent)/$(call_field bytesReceived) as the kernel counts;"

    t0=$(now_ms)
    line hangup >"$RUN/hangup.out" 2>&1 || fail "hangup failed: $(cat "$RUN/hangup.out")"
    note "hung up in $(since "$t0")s"
    no_connection || fail "a connection is left after the hang-up: $(call_json)"
    link_gone || fail "ppp0 is still there after the hang-up"
    wait_until 5 "end of the ISP's pppd" eval "! kill -0 $isp 2>/dev/null"
    wait_until 5 "no pppd left" eval '! pgrep -x pppd >/dev/null'
    wait_until 5 "the modem back in command mode" modem_said HANGUP
}

case_pap() { up_and_down require-pap 5; }
case_chap() { up_and_down require-chap 2; }

case_wrong_password()
{
    start_modem require-pap
    dial 0860 not-the-password
    grep -q "PAP peer authentication failed for $ACCOUNT" "$RUN/isp.log" ||
        fail "the ISP did not refuse the password: $(tr '\n' '|' <"$RUN/isp.log")"
    dial_fails_with 691
    link_gone || fail "ppp0 exists after a refused password"
    note "error 691 after ${DIAL_TIME}s"
}

case_busy()
{
    start_modem require-pap --on 0861=busy
    dial 0861 "$PASSWORD"
    dial_fails_with 676
    modem_said "CMD ATDT0861" || fail "the modem was not sent ATDT0861"
    grep -q 'ISP started' "$RUN/modem.log" && fail "the ISP answered a busy call"
    note "error 676 after ${DIAL_TIME}s"
}

case_carrier_lost()
{
    start_modem require-pap
    dial 0860 "$PASSWORD"
    [ "$DIAL_STATUS" = 0 ] || fail "dial ended with status $DIAL_STATUS: $DIAL_ERR"
    local isp t0
    isp=$(isp_pid)
    t0=$(now_ms)
    kill -USR1 "$MODEM_PID"
    wait_until 15 "state Disconnected in status --json" call_disconnected
    note "Disconnected after $(since "$t0")s;"
    expect_call rasconnstate=8193 error=629 kind=modem "entry=$ENTRY"
    [ -n "$(call_field errorText)" ] || fail "no errorText with error 629: $CALL"
    wait_until 5 "ppp0 gone" link_gone
    wait_until 5 "end of the ISP's pppd" eval "! kill -0 $isp 2>/dev/null"
    line hangup >"$RUN/hangup.out" 2>&1 || fail "hangup failed: $(cat "$RUN/hangup.out")"
    no_connection || fail "the lost call is still listed after hangup: $(call_json)"
    note "cleared by hangup"
}

# A dead link: the ISP's pppd frozen (SIGSTOP) while the modem keeps the
# carrier up, so only the subscriber's LCP echo requests can tell. A peers file
# of the shipped one's options with a quick check (1 s x 3 where the shipped
# file asks 30 s x 4; the arithmetic of that one is checked by the modem line's
# unit tests) keeps the case short. pppd must end the link as dead (status
# 15, or 16 when it reads the line it gave back as hung up, as pppd 2.4.9
# does), and the line must read error 718 in its own words.
QUICK_PEER=vantelo-quick-echo
case_dead_link()
{
    local peer=/etc/ppp/peers/$QUICK_PEER home
    sed -e 's/^lcp-echo-interval .*/lcp-echo-interval 1/' -e 's/^lcp-echo-failure .*/lcp-echo-failure 3/' \
        /etc/ppp/peers/vantelo >"$peer" && chown root:dip "$peer" && chmod 640 "$peer" ||
        fail "cannot write $peer"
    grep -qx 'lcp-echo-interval 1' "$peer" && grep -qx 'lcp-echo-failure 3' "$peer" ||
        fail "the shipped peers file has no lcp-echo-interval or lcp-echo-failure line to shorten"
    home=$(user_home "$LAB_USER")
    modem_entry "$ENTRY" | sed "s/^Peer=vantelo\$/Peer=$QUICK_PEER/" |
        (as_user tee "$home/.config/vantelo/rasphone.pbk" >/dev/null) || fail "cannot write the phonebook"
    start_modem require-pap
    dial 0860 "$PASSWORD"
    [ "$DIAL_STATUS" = 0 ] || fail "dial ended with status $DIAL_STATUS: $DIAL_ERR"
    ping_isp 2
    local isp t0 took
    isp=$(isp_pid)
    [ -n "$isp" ] || fail "the ISP's pppd has no link up"
    t0=$(now_ms)
    kill -STOP "$isp"
    wait_until 30 "state Disconnected after the ISP's pppd was frozen" call_disconnected
    took=$(since "$t0")
    note "ended as dead ${took}s after the ISP's pppd was frozen;"
    expect_call rasconnstate=8193 error=718 kind=modem "entry=$ENTRY"
    [[ $(call_field errorText) == *"the far end stopped answering (no LCP echo replies)"*"No response to 3 echo-requests"* ]] ||
        fail "errorText does not say the far end stopped answering: $CALL"
    line status >"$RUN/status.out" 2>&1
    grep -q "Disconnected (718: On line: the far end stopped answering" "$RUN/status.out" ||
        fail "status says: $(tr '\n' '|' <"$RUN/status.out")"
    grep -q "No response to 3 echo-requests" "$CALL_LOG" ||
        fail "the call's log does not show pppd's missed echo replies"
    note "pppd's status $(sed -n 's/.*pppd exited with status \([0-9]*\).*/\1/p' "$CALL_LOG");"
    grep -q "^DROP" "$RUN/modem.log" && fail "the modem dropped the carrier: the link was not dead, but lost"
    wait_until 5 "ppp0 gone" link_gone
    kill -CONT "$isp"
    line hangup >"$RUN/hangup.out" 2>&1 || fail "hangup failed: $(cat "$RUN/hangup.out")"
    no_connection || fail "the dead call is still listed after hangup: $(call_json)"
    wait_until 5 "end of the ISP's pppd" eval "! kill -0 $isp 2>/dev/null"
    write_modem_entry "$ENTRY"
    note "$(call_field errorText | cut -c1-60)..."
}

# The call's helper killed outright while the link is up: its pppd must not
# keep the line up unnoticed. pppd (setuid, so no parent-death signal reaches
# it) is ended at the next look at the line; the port is free again and the
# next dial connects.
case_helper_killed()
{
    start_modem require-pap
    dial 0860 "$PASSWORD"
    [ "$DIAL_STATUS" = 0 ] || fail "dial ended with status $DIAL_STATUS: $DIAL_ERR"
    local helper t0
    helper=$(pgrep -x vantelo-call | head -n 1)
    [ -n "$helper" ] || fail "no vantelo-call runs while the call is up"
    pgrep -x pppd >/dev/null || fail "no pppd runs while the call is up"
    t0=$(now_ms)
    kill -KILL "$helper"
    line status >"$RUN/status-after-kill.out" 2>&1
    wait_until 10 "ppp0 gone after the helper was killed" link_gone
    wait_until 10 "no pppd left after the helper was killed" eval '! pgrep -x pppd >/dev/null'
    note "pppd ended $(since "$t0")s after its helper was killed;"
    CALL=$(call_json)
    [ "$(call_field state)" != Connected ] || fail "the line still reads Connected: $CALL"
    line hangup >"$RUN/hangup.out" 2>&1 || fail "hangup failed: $(cat "$RUN/hangup.out")"
    no_connection || fail "a connection is left after the hang-up: $(call_json)"
    dial 0860 "$PASSWORD"
    [ "$DIAL_STATUS" = 0 ] || fail "the next dial ended with status $DIAL_STATUS: $DIAL_ERR"
    wait_until 10 "address on ppp0" eval '[ -n "$(if_addr ppp0)" ]'
    line hangup >"$RUN/hangup.out" 2>&1 || fail "hangup failed: $(cat "$RUN/hangup.out")"
    wait_until 10 "no pppd left" eval '! pgrep -x pppd >/dev/null'
    note "the next dial connected"
}

# After each case, before its processes end: the call's own log joins the
# case's logs, and no call is left for the next case.
after_line_case()
{
    [ -f "$CALL_LOG" ] && cp "$CALL_LOG" "$RUN/call.log"
    line hangup >/dev/null 2>&1
}
CASE_CLEANUP=after_line_case

run_case pap case_pap
run_case chap case_chap
run_case wrong-password case_wrong_password
run_case busy case_busy
run_case carrier-lost case_carrier_lost
run_case dead-link case_dead_link
run_case helper-killed case_helper_killed
exit $FAILED
