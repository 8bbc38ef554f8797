#!/usr/bin/env bash
# Prints the side-by-side table of the line bench from its figures
# (bench-line.tsv: dialer, figure, value, as cases_bench_line.sh writes them),
# with Vantelo's goal and verdict per row.
#
# Usage: bench_line_table.sh [--check] TSV
#   --check  exit 1 when a figure of any dialer is missing (the suite's quick run)
# Exit status otherwise: 0 once the table is printed, 1 when a figure is missing.
set -uo pipefail

CHECK=""
[ "${1:-}" = --check ] && { CHECK=yes; shift; }
[ $# = 1 ] || { echo "usage: $0 [--check] TSV" >&2; exit 2; }
TSV=$1
[ -f "$TSV" ] || { echo "bench_line_table: no figures at $TSV" >&2; exit 1; }

DIALERS=(vantelo pppd+chat wvdial)
value() { awk -F '\t' -v d="$1" -v f="$2" '$1 == d && $2 == f { print $3; exit }' "$TSV"; }

missing=0
for d in "${DIALERS[@]}"; do
    for f in dial-to-ping text random busy wrong-password carrier-lost; do
        [ -n "$(value "$d" "$f")" ] || { echo "bench_line_table: no $f figure for $d" >&2; missing=1; }
    done
done

# Time and throughput: Vantelo against each peer, within what the bench can
# tell apart (pings are polled every 0.1 s; a transfer's share is given to
# 0.1 point, and runs of the same pppd differ by about a point).
verdict_at_most()
{
    local mine=$1 a=$2 b=$3 slack=$4
    awk -v m="$mine" -v a="$a" -v b="$b" -v s="$slack" \
        'BEGIN { print (m != "" && a != "" && b != "" && m <= a + s && m <= b + s) ? "meets" : "misses" }'
}
verdict_at_least()
{
    local mine=$1 a=$2 b=$3 slack=$4
    awk -v m="$mine" -v a="$a" -v b="$b" -v s="$slack" \
        'BEGIN { print (m != "" && a != "" && b != "" && m >= a - s && m >= b - s) ? "meets" : "misses" }'
}
# A failure in words: its code, then a sentence (three words at least), not a
# bare code.
in_words()
{
    [[ $1 =~ [0-9]{3}:\ .*[A-Za-z]+\ [a-z]+\ [a-z]+ ]] && echo meets || echo misses
}

row() { printf '| %s | %s | %s | %s | %s | %s |\n' "$@"; }
echo "| Figure | Vantelo | pppd + chat | wvdial | Goal | Verdict |"
echo "|---|---|---|---|---|---|"
v=$(value vantelo dial-to-ping) p=$(value pppd+chat dial-to-ping) w=$(value wvdial dial-to-ping)
row "Dial to the first ping answered over ppp0 (s, median)" "$v" "$p" "$w" "no slower than either (0.1 s)" \
    "$(verdict_at_most "$v" "$p" "$w" 0.1)"
for kind in text random; do
    v=$(value vantelo $kind) p=$(value pppd+chat $kind) w=$(value wvdial $kind)
    row "Throughput, $kind from the ISP (% of the line's 2880 B/s)" "$v" "$p" "$w" "no lower than either (1 point)" \
        "$(verdict_at_least "$v" "$p" "$w" 1)"
done
for kind in busy wrong-password carrier-lost; do
    v=$(value vantelo $kind) p=$(value pppd+chat $kind) w=$(value wvdial $kind)
    row "Reported for: $kind" "${v//|/ / }" "${p//|/ / }" "${w//|/ / }" "in words, with its code" "$(in_words "$v")"
done
[ -z "$CHECK" ] || [ $missing = 0 ] || exit 1
exit $missing
