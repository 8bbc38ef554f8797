#!/bin/bash
# The modem line as accounts that may not use it, run inside the guest by
# guest_init.sh: a user outside dip (who may open the modem but not run
# pppd, which Debian installs root:dip 4754), one outside dialout (who may
# not open the modem), and one in neither group. Each is refused before a
# number is dialed, with the code and words of what is missing, every
# missing group named at once; and nothing is left behind by a refusal.
# Then the lab's user, in both groups, dials the same modem: the refusals
# cost nothing of the line.
#
# Environment: ART (results), PPP_DIR (tests/ppp), LINE_TOOL, EMULATOR.

# Cases and checks run through run_case and wait_until; "A || fail" fails.
# shellcheck disable=SC2317,SC2015,SC2016
# shellcheck source=guest_lib.sh
. "$PPP_DIR/guest_lib.sh"

ENTRY="ISP Modem"

# dial_as USER: vantelo-line dial --wait as USER, the password on standard
# input; sets DIAL_STATUS and DIAL_ERR.
dial_as()
{
    local user=$1
    printf '%s\n' "$PASSWORD" | (as_user "$user" -- timeout 60 "$LINE_TOOL" dial "$ENTRY" \
        --user "$ACCOUNT" --password-stdin --number 0860 --wait) >"$RUN/dial.out" 2>"$RUN/dial.err"
    DIAL_STATUS=$?
    DIAL_ERR=$(cat "$RUN/dial.err")
    log "dial as $user: status $DIAL_STATUS; $DIAL_ERR"
}

# refused USER CODE WORDS...: USER's dial fails with CODE, its text holds each
# of WORDS, the modem was told no number, and no call nor pppd is left.
refused()
{
    local user=$1 code=$2 word
    shift 2
    write_modem_entry "$ENTRY" "$user"
    start_modem require-pap
    dial_as "$user"
    [ "$DIAL_STATUS" = 1 ] || fail "dial as $user ended with status $DIAL_STATUS, expected 1 ($DIAL_ERR)"
    grep -q "^vantelo-line: error $code: ." <<<"$DIAL_ERR" ||
        fail "dial as $user said \"$DIAL_ERR\", expected \"vantelo-line: error $code: ...\""
    for word in "$@"; do
        grep -qiF -- "$word" <<<"$DIAL_ERR" || fail "error $code does not name \"$word\": $DIAL_ERR"
    done
    if grep -q '^CMD ATD' "$RUN/modem.log"; then
        fail "a number was dialed before the refusal: $(grep '^CMD' "$RUN/modem.log" | tr '\n' ' ')"
    fi
    pgrep -x pppd >/dev/null && fail "a pppd runs after the refusal: $(pgrep -a -x pppd)"
    local left
    left=$( (as_user "$user" -- timeout 10 "$LINE_TOOL" status --json) | jq '.connections | length')
    [ "$left" = 0 ] || fail "the refused call is listed: $left connections"
    note "error $code, no number dialed ($(grep -c '^CMD' "$RUN/modem.log") modem commands)"
}

case_outside_dip() { refused nodip 649 dip; }
case_outside_dialout() { refused nodialout 665 dialout; }
case_in_neither() { refused nogroups 665 dialout dip; }

# After the refusals, the lab's user dials the same modem as usual.
case_member_dials()
{
    write_modem_entry "$ENTRY"
    start_modem require-pap
    dial_as "$LAB_USER"
    [ "$DIAL_STATUS" = 0 ] || fail "dial as $LAB_USER ended with status $DIAL_STATUS: $DIAL_ERR"
    wait_until 10 "address on ppp0" eval '[ -n "$(if_addr ppp0)" ]'
    ping_isp 2
    (as_user timeout 30 "$LINE_TOOL" hangup) >"$RUN/hangup.out" 2>&1 || fail "hangup failed: $(cat "$RUN/hangup.out")"
    wait_until 5 "ppp0 gone" link_gone
    wait_until 5 "no pppd left" eval '! pgrep -x pppd >/dev/null'
    note "connected, 2 pings, hung up, no pppd left"
}

after_users_case()
{
    local user
    for user in nodip nodialout nogroups "$LAB_USER"; do
        (as_user "$user" -- timeout 10 "$LINE_TOOL" hangup) >/dev/null 2>&1
    done
}
CASE_CLEANUP=after_users_case

run_case outside-dip case_outside_dip
run_case outside-dialout case_outside_dialout
run_case in-neither case_in_neither
run_case member-dials case_member_dials
exit $FAILED
