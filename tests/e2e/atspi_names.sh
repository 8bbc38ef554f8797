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
fi
on_private_session_bus "$@"

VANTELO=$(realpath "$1")
LINE_TOOL=$(realpath "$2")
use_artifacts_folder "$3"
x_desktop_environment own-session-bus

trap end_session EXIT
trap 'fail "interrupted"' INT TERM

fail()
{
    log "FAILED: $*"
    failure_screenshot
    show_logs 20 vantelo.err
    exit 1
}

start_x_server
start_window_manager

# A screen reader's desktop: the program's toolkit offers its windows on the
# accessibility bus from the start.
turn_on_accessibility_bus
write_demo_phonebook
write_demo_login 0
start_vantelo
/usr/bin/python3 "$HERE/atspi_names.py" "$VANTELO_PID" "$VANTELO" "$ART" || fail "see above"
log "PASS"
