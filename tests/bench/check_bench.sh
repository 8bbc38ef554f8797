#!/usr/bin/env bash
# Runs the benchmark harness in its quick mode (BENCH_QUICK=1, set by CTest)
# and checks that it still measures: exit status 0 and every figure printed
# with a number and a verdict. The figures themselves are not judged here.
#
# Usage: check_bench.sh RUN_BENCH
set -uo pipefail

[ $# -eq 1 ] || {
    echo "usage: $0 RUN_BENCH" >&2
    exit 2
}
out=$(bash "$1" 2>&1)
status=$?
echo "$out"
[ "$status" -eq 0 ] || {
    echo "bench_harness: FAIL: run_bench.sh ended with status $status"
    exit 1
}

figures=(
    "start-up CPU"
    "start-up CPU, vs a floor with text"
    "start-up peak memory (VmHWM)"
    "hidden in the tray: CPU"
    "hidden in the tray: wakeups"
    "hidden, vs a ticking tip: CPU"
    "hidden, vs a ticking tip: wakeups"
    "details window open: CPU"
    "details, vs a floor doing the same"
    "monitor tick CPU (median)"
    "bytes written per hour"
    "bytes written, vs a floor rewriting"
    "syncs per hour"
    "start-up at 1000 entries"
    "vantelo-line list at 1 entry"
    "vantelo-line list at 1000 entries"
)
missing=0
for figure in "${figures[@]}"; do
    # | figure | measured, with a number | goal | meets or misses |
    line=$(grep -F "| $figure " <<<"$out" | head -n 1)
    # Without strace the syncs are not counted, and the row says so.
    [[ $figure == "syncs per hour" && $line == *"not measured: strace is not installed"* ]] && continue
    if ! [[ $line =~ ^\|\ [^|]+\|[^|]*[0-9][^|]*\|[^|]+\|\ (meets|misses)\ +\|$ ]]; then
        echo "bench_harness: FAIL: no measured figure \"$figure\" with a verdict${line:+: $line}"
        missing=$((missing + 1))
    fi
done
rows=$(grep -cE '^\| .* \| (meets|misses|-) +\|$' <<<"$out")
[ "$rows" -eq ${#figures[@]} ] || {
    echo "bench_harness: FAIL: $rows figures with a verdict, expected ${#figures[@]}"
    missing=$((missing + 1))
}
[ "$missing" -eq 0 ] || exit 1
echo "bench_harness: PASS (${#figures[@]} figures)"
