#!/usr/bin/env bash
# The modem emulator, seen from a dialer: open its link, put the line in raw mode, send AT
# commands and read every byte that comes back; hang up by closing the line.
#
# Usage: test_modem_emulator.sh MODEM_EMULATOR

# The helpers below run through wait_for, which shellcheck cannot follow.
# shellcheck disable=SC2317
set -uo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 MODEM_EMULATOR" >&2
    exit 2
fi
EMU=$(realpath "$1")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/modem-selftest.XXXXXX") || exit 1
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$WORK"' EXIT
# A line the emulator hangs up may be this shell's controlling terminal.
trap '' HUP

# finish: the verdict; on failure, every emulator's log.
finish() {
    if [ $failures -eq 0 ]; then
        echo "modem_emulator_selftest: PASS"
        exit 0
    fi
    echo "modem_emulator_selftest: $failures failure(s)"
    for log in "$WORK"/*/log; do
        [ -e "$log" ] || continue
        echo "--- $log"
        cat "$log"
    done
    exit 1
}

# fail MESSAGE: counted; past five failures the rest would only wait out their timeouts.
failures=0
fail() {
    echo "FAIL: $name: $*"
    failures=$((failures + 1))
    [ $failures -lt 5 ] || finish
}

# wait_for COMMAND...: true as soon as COMMAND is, false after 3 s.
wait_for() {
    local i
    for ((i = 0; i < 150; i++)); do
        "$@" && return 0
        sleep 0.02
    done
    return 1
}

# start NAME ARGS...: an emulator with its link, ready file and log in $WORK/NAME.
start() {
    name=$1
    shift
    D=$WORK/$name
    mkdir -p "$D"
    "$EMU" --link "$D/modem" --ready "$D/ready" --log "$D/log" "$@" &
    EMU_PID=$!
    wait_for test -s "$D/ready" || { fail "no ready file" && finish; }
}

# dial_in: open the link as fd 3; everything the line says is appended to $D/out. The
# line must come raw (no echo, no line editing, no CR/LF mapping) whatever the last
# client set.
dial_in() {
    exec 3<>"$D/modem"
    local m missing=""
    m=" $(stty -a <&3 | tr '\n;' '  ') "
    for mode in -icanon -echo -isig -icrnl -opost; do
        [[ $m == *" $mode "* ]] || missing+=" $mode"
    done
    [ -z "$missing" ] || fail "line opened without$missing"
    stty raw -echo <&3
    : >"$D/out"
    cat <&3 >>"$D/out" 2>/dev/null &
    READER=$!
}

hang_up() {
    kill "$READER" 2>/dev/null
    wait "$READER" 2>/dev/null
    exec 3>&-
}

# What the line said, CR shown as ~ and LF as |.
shown() { tr '\r\n' '~|' <"$D/out"; }
visible() { printf '%b' "$1" | tr '\r\n' '~|'; }
said() { [ "$(shown)" = "$1" ]; }
heard() { [[ $(shown) == *"$1"* ]]; }
logged() { grep -qxF "$1" "$D/log"; }
count() { grep -cxF "$1" "$D/log"; }
logged_times() { [ "$(count "$2")" -ge "$1" ]; }
# running PID: the process lives (an empty PID counts as living: it was never seen).
running() { [ -z "$1" ] || kill -0 "$1" 2>/dev/null; }
# The client's reader has ended: its line hung up.
gone() { ! running "$READER"; }
# Junk: bytes above 127 and at least three lines.
junk() {
    [ "$(LC_ALL=C tr -dc '\200-\377' <"$D/out" | wc -c)" -gt 0 ] &&
        [ "$(tr -dc '\n' <"$D/out" | wc -c)" -ge 3 ]
}

# expect COMMAND REPLY: send COMMAND and CR; the line must then say exactly REPLY.
expect() {
    : >"$D/out"
    printf '%s\r' "$1" >&3
    local want
    want=$(visible "$2")
    wait_for said "$want" || fail "'$1' answered '$(shown)', expected '$want'"
}

# stop: SIGTERM ends the emulator with status 0 and takes its link and ready file away.
stop() {
    kill -TERM "$EMU_PID"
    wait "$EMU_PID"
    local rc=$?
    [ $rc -eq 0 ] || fail "exit status $rc after SIGTERM"
    if [ -L "$D/modem" ] || [ -e "$D/ready" ]; then
        fail "link or ready file left behind"
    fi
}

# Command mode: echo, result codes, each outcome of a dial, a dial abandoned by a key.
start commands --on 111=busy --on 222=nocarrier --on 333=nodialtone --on 444=noanswer \
    --on 555=error --on 666=silent --on 777=garbage
dial_in
expect 'ATZ' 'ATZ\r\r\nOK\r\n'
expect 'ATS7=60 M0 L1 X3' 'ATS7=60 M0 L1 X3\r\r\nOK\r\n'
expect 'hello' 'hello\r\r\nERROR\r\n'
expect 'ATDT111' 'ATDT111\r\r\nBUSY\r\n'
expect 'ATDT 2 2 2' 'ATDT 2 2 2\r\r\nNO CARRIER\r\n'
expect 'ATDP333' 'ATDP333\r\r\nNO DIALTONE\r\n'
expect 'ATD444' 'ATD444\r\r\nNO ANSWER\r\n'
expect 'ATDT555' 'ATDT555\r\r\nERROR\r\n'
logged 'CMD ATDP333' || fail "pulse dialing not in the log"
expect 'ATE0' 'ATE0\r\r\nOK\r\n'
expect 'AT' '\r\nOK\r\n'
expect 'ATE1' '\r\nOK\r\n'
expect 'ATDT666' 'ATDT666\r'
: >"$D/out"
printf 'x' >&3
wait_for said "$(visible '\r\nNO CARRIER\r\n')" || fail "a key during a silent dial: '$(shown)'"
: >"$D/out"
printf 'ATDT777\r' >&3
wait_for junk || fail "no junk after ATDT777: '$(shown)'"
LC_ALL=C tail -c +9 "$D/out" | LC_ALL=C grep -q '[A-Za-z]' && fail "junk with letters: '$(shown)'"
expect 'AT' 'AT\r\r\nOK\r\n'
# A call: the line swallows data, the client's hang-up ends it, the same link answers again.
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
printf 'hello' >&3
hang_up
wait_for logged 'HANGUP' || fail "no HANGUP after closing the line"
logged 'DATA in=5 out=0' || fail "data bytes miscounted: $(grep DATA "$D/log")"
dial_in
expect 'ATZ' 'ATZ\r\r\nOK\r\n'
# A client that leaves a reply unread and its line in cooked mode: neither reaches the next.
hang_up
oks=$(count 'RESULT OK') hangups=$(count 'HANGUP')
exec 3<>"$D/modem"
printf 'ATZ\r' >&3
wait_for logged_times $((oks + 1)) 'RESULT OK' || fail "no reply to the unread ATZ"
stty sane <&3
exec 3>&-
wait_for logged_times $((hangups + 1)) 'HANGUP' || fail "no HANGUP after the unread ATZ"
dial_in
expect 'AT' 'AT\r\r\nOK\r\n'
# Carrier lost: the client reads NO CARRIER and its line hangs up; the link moves to a
# fresh line that answers the next call.
old=$(readlink "$D/modem")
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
kill -USR1 "$EMU_PID"
wait_for gone || fail "the client's line did not hang up"
heard "$(visible '\r\nNO CARRIER\r\n')" || fail "no NO CARRIER before the drop: '$(shown)'"
hang_up
new=$(readlink "$D/modem")
if [ -z "$new" ] || [ "$new" = "$old" ] || [ "$(cat "$D/ready")" != "$new" ]; then
    fail "link not moved to a fresh line: '$old' -> '$new', ready '$(cat "$D/ready")'"
fi
dial_in
expect 'ATZ' 'ATZ\r\r\nOK\r\n'
hang_up
stop

# A slow modem that fails its reset, then vanishes mid-dial.
start vanish --delay-ms 300 --init error --default vanish
dial_in
t0=$EPOCHREALTIME
expect 'ATZ' 'ATZ\r\r\nERROR\r\n'
elapsed=$(((${EPOCHREALTIME/./} - ${t0/./}) / 1000))
[ "$elapsed" -ge 300 ] || fail "answered after $elapsed ms, before --delay-ms 300"
expect 'ATDT0860' 'ATDT0860\r'
wait_for test ! -L "$D/modem" || fail "link still there after vanishing"
wait "$EMU_PID"
rc=$?
[ $rc -eq 0 ] || fail "exit status $rc after vanishing"
wait_for gone || fail "the client's line did not hang up"
hang_up

# The far end: cat sends every byte back; a hang-up, a carrier loss and SIGTERM all end it.
start echo -- cat
dial_in
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
printf 'ping-123' >&3
wait_for heard 'ping-123' || fail "data not sent back by cat: '$(shown)'"
isp=$(sed -n 's/^ISP started pid //p' "$D/log")
hang_up
wait_for logged 'HANGUP' || fail "no HANGUP after closing the line"
logged 'DATA in=8 out=8' || fail "data bytes miscounted: $(grep DATA "$D/log")"
running "$isp" && fail "the ISP program ($isp) outlived the call"
dial_in
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
isp=$(sed -n 's/^ISP started pid //p' "$D/log" | tail -n 1)
kill -USR1 "$EMU_PID"
wait_for gone || fail "the client's line did not hang up"
running "$isp" && fail "the ISP program ($isp) outlived the carrier"
hang_up
dial_in
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
isp=$(sed -n 's/^ISP started pid //p' "$D/log" | tail -n 1)
stop
running "$isp" && fail "the ISP program ($isp) outlived SIGTERM"
hang_up

# A dead link: after SIGUSR2 the far end is silent with the carrier kept (the client's
# line stays open, nothing comes back), until the client hangs up. A far end frozen
# with SIGSTOP still ends as soon as the call does.
start silent -- cat
dial_in
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
printf 'ping-1' >&3
wait_for heard 'ping-1' || fail "data not sent back by cat: '$(shown)'"
kill -USR2 "$EMU_PID"
wait_for logged 'SILENT far end, carrier kept' || fail "the far end's silence not logged"
: >"$D/out"
printf 'ping-2' >&3
# (Absence is only seen by waiting: a few times what cat took to answer above.)
sleep 0.3
[ -s "$D/out" ] && fail "a silent far end answered: '$(shown)'"
gone && fail "the client's line hung up: the carrier was dropped"
logged 'DROP' && fail "the carrier was dropped"
isp=$(sed -n 's/^ISP started pid //p' "$D/log")
kill -STOP "$isp"
hang_up
wait_for logged 'HANGUP' || fail "no HANGUP after closing the line"
logged 'DATA in=12 out=6' || fail "data bytes miscounted: $(grep DATA "$D/log")"
running "$isp" && fail "the frozen ISP program ($isp) outlived the call"
grep -q '^ISP ended signal 15' "$D/log" || fail "the frozen ISP program did not end on SIGTERM: $(grep '^ISP ended' "$D/log")"
stop

# A far end that sets up its tty slowly, throwing away what arrives meanwhile (as pppd
# does), then speaks, echoes four bytes and ends the call by itself: the client's bytes
# are held until it has spoken, and its end brings NO CARRIER and command mode back.
start hold --hold-until-isp -- sh -c \
    'sleep 0.2; timeout 0.2 cat >/dev/null; [ -t 0 ] && printf tty; exec head -c 4'
dial_in
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 28800\r\n'
printf 'abcd' >&3
wait_for heard "$(visible 'CONNECT 28800\r\nttyabcd\r\nNO CARRIER\r\n')" ||
    fail "far end's words and end: '$(shown)'"
expect 'ATZ' 'ATZ\r\r\nOK\r\n'
logged 'ISP exited status 0' || fail "the ISP program's end not logged"
hang_up
stop

# A paced line carries speed / 10 bytes a second each way: 960 bytes sent back by cat
# at 4800 bit/s (480 bytes a second) take at least two seconds, and all of them come.
# Its line may be given the mode of a modem's device.
start paced --speed 4800 --pace --line-mode 660 -- cat
mode=$(stat -L -c %a "$D/modem")
[ "$mode" = 660 ] || fail "the line's mode is $mode, not 660"
dial_in
expect 'ATDT0860' 'ATDT0860\r\r\nCONNECT 4800\r\n'
: >"$D/out"
block=$(printf '%960s' '' | tr ' ' 'x')
t0=$EPOCHREALTIME
printf '%s' "$block" >&3
all_back() { [ "$(tr -dc x <"$D/out" | wc -c)" -ge 960 ]; }
for _ in 1 2 3; do wait_for all_back && break; done
elapsed=$(((${EPOCHREALTIME/./} - ${t0/./}) / 1000))
all_back || fail "only $(tr -dc x <"$D/out" | wc -c) of 960 bytes came back"
[ "$elapsed" -ge 1900 ] || fail "960 bytes came back in $elapsed ms at 480 bytes a second"
hang_up
stop

finish
