#!/usr/bin/env bash
# The line bench: Vantelo, pppd + chat and wvdial dialing the same modem in
# the lab's guest (cases_bench_line.sh), then the table of their figures with
# a verdict per row (bench_line_table.sh).
#
# Usage: bench_line.sh [--quick] BUILD_DIR ARTIFACTS
#   --quick  8 KiB transfers and one dial each (the suite's check that every
#            figure is still measured); otherwise 256 KiB and the median of
#            three dials (BENCH_KIB and BENCH_DIALS change them)
# Exit status: 0 the table is whole, 1 a figure is missing or the guest failed.
set -uo pipefail
HERE=$(realpath "$(dirname "$0")")
QUICK=""
[ "${1:-}" = --quick ] && { QUICK=yes; shift; }
[ $# = 2 ] || { echo "usage: $0 [--quick] BUILD_DIR ARTIFACTS" >&2; exit 2; }
B=$(realpath "$1")
ART=$2
if [ -n "$QUICK" ]; then
    KIB=8 DIALS=1 LIMIT=300
else
    KIB=${BENCH_KIB:-256} DIALS=${BENCH_DIALS:-3}
    # Two transfers a dialer at 2 880 bytes a second, and the dials.
    LIMIT=$((3 * (2 * KIB * 1024 / 2880 + DIALS * 30 + 120)))
fi
bash "$HERE/lab_run.sh" --limit "$LIMIT" --cache "$B/lab-cache" "$HERE/cases_bench_line.sh" "$ART" \
    LINE_TOOL="$B/tools/vantelo-line" CALL_PROGRAM="$B/src/platform/vantelo-call" \
    EMULATOR="$B/tests/modem/modem_emulator" BENCH_KIB="$KIB" BENCH_DIALS="$DIALS"
status=$?
echo
echo "Vantelo against pppd + chat and wvdial on one modem line at 28 800 bit/s ($KIB KiB transfers, $DIALS dial(s) each):"
bash "$HERE/bench_line_table.sh" ${QUICK:+--check} "$ART/bench-line.tsv" || status=1
exit $status
