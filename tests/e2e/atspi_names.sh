#!/usr/bin/env bash
# Vantelo's windows as a screen reader reads them: the real program on an X
# desktop with no tray (so the connected dialer stays on screen) and the
# accessibility bus on, as a desktop with a screen reader has it.
# atspi_names.py reads each of its windows over AT-SPI and fails on a window
# not offered as one or a focusable control without a name.
#
# Usage: atspi_names.sh VANTELO VANTELO_LINE ARTIFACTS_DIR

# shellcheck disable=SC2317
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=x_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

expect_arguments 3 "VANTELO VANTELO_LINE ARTIFACTS_DIR" "$@"
NAME=e2e_atspi_names
HERE=$(realpath "$(dirname "${BASH_SOURCE[0]}")")

if [ -z "${VANTELO_E2E_WORK:-}" ]; then
    require_programs dbus-run-session Xvfb openbox xdotool gdbus import /usr/bin/python3
    /usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
        { echo "$NAME: FAIL: no python3-pyatspi (scripts/install-deps.sh installs it)"; exit 1; }
    make_private_home
    export VANTELO_E2E_WORK=$WORK
    exec dbus-run-session -- bash "$0" "$@"
fi
WORK=$VANTELO_E2E_WORK

VANTELO=$(realpath "$1")
LINE_TOOL=$(realpath "$2")
use_artifacts_folder "$3"
x_desktop_environment own-session-bus

trap end_session EXIT
trap 'fail "interrupted"' INT TERM

fail()
{
    log "FAILED: $*"
    import -window root "$ART/failure.png" 2>/dev/null && log "screen: $ART/failure.png"
    echo "----- vantelo stderr -----"
    tail -n 20 "$WORK/vantelo.err" 2>/dev/null
    exit 1
}

start_x_server
start_window_manager

# A screen reader's desktop: the accessibility bus is told to be on, so the
# program's toolkit offers its windows there from the start.
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' \
    >/dev/null 2>"$WORK/gdbus.err" || fail "cannot turn the accessibility bus on: $(cat "$WORK/gdbus.err")"

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
printf '[INFO]\r\nLogin1=demo\r\nPassword1=demo\r\nNumero1=0860\r\nAutoConnect=0\r\n' \
    >"$XDG_CONFIG_HOME/vantelo/test.ini"
"$VANTELO" >"$WORK/vantelo.out" 2>"$WORK/vantelo.err" &
VANTELO_PID=$!
PIDS+=("$VANTELO_PID")
/usr/bin/python3 "$HERE/atspi_names.py" "$VANTELO_PID" "$VANTELO" "$ART" || fail "see above"
log "PASS"
