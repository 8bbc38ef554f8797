#!/usr/bin/env bash
# Reads CTest's JUnit report and lists every test that was skipped, with the
# reason it gave. The real-PPP lab's tests (ppp_*) prove the modem line over
# real PPP and may never skip: one that did fails the run. Other tests may
# skip only for the reasons the README names; they are listed, not failed.
# Last, one line says how many tests the report holds, how many skipped, and
# how many of the lab's tests ran.
#
# Usage: no-skipped-tests.sh REPORT.xml
set -euo pipefail
[ $# = 1 ] || { echo "usage: $0 REPORT.xml" >&2; exit 2; }
report=$1
[ -f "$report" ] || { echo "no-skipped-tests: no test report at $report" >&2; exit 1; }

# CTest writes one <testcase name="..." status="..."> per test: "run", "fail", or
# "notrun" for a test that skipped (SKIP_RETURN_CODE) or could not start.
mapfile -t skipped < <(grep -o '<testcase name="[^"]*"[^>]*status="\(skipped\|notrun\|disabled\)"' "$report" |
    sed 's/^<testcase name="\([^"]*\)".*/\1/')
# The tests that ran, passed or failed.
mapfile -t ran_names < <(grep -o '<testcase name="[^"]*"[^>]*status="\(run\|fail\)"' "$report" |
    sed 's/^<testcase name="\([^"]*\)".*/\1/')
ran=$(grep -c '<testcase ' "$report" || true)
[ "$ran" -gt 0 ] || { echo "no-skipped-tests: the report lists no test" >&2; exit 1; }
status=0
for name in "${skipped[@]}"; do
    if [[ $name == ppp_* ]]; then
        echo "no-skipped-tests: $name was skipped: the real PPP link was not proven" >&2
        status=1
    else
        echo "no-skipped-tests: note: $name was skipped (see its output above for the reason)"
    fi
done
lab_ran=0
for name in "${ran_names[@]}"; do
    [[ $name != ppp_lab_* ]] || lab_ran=$((lab_ran + 1))
done
if ! grep -q '<testcase name="ppp_lab_' "$report"; then
    echo "no-skipped-tests: the report has no real-PPP test (ppp_lab_*)" >&2
    status=1
fi
echo "no-skipped-tests: $ran tests, ${#skipped[@]} skipped; $lab_ran real-PPP lab tests (ppp_lab_*) ran"
exit $status
