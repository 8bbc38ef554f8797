#!/usr/bin/env bash
# Runs one fuzz target for a set time on a working copy of its seed corpus.
#   run_fuzzer.sh TARGET SEEDS WORK SECONDS
# TARGET: the fuzz target's program; SEEDS: its corpus in the source tree (never
# changed); WORK: a folder of the build tree for the working corpus, which
# keeps growing from run to run, and the inputs that failed in the last run.
# The tokens of the format, when listed in dict/NAME.dict beside the corpus
# folders, guide the fuzzer's changes. Exits 0 when nothing was found, 77
# when the target was not built (no clang++ with libFuzzer), 1 on a finding;
# then every failing input is printed.
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 TARGET SEEDS WORK SECONDS" >&2
    exit 2
fi
target=$(realpath -m "$1") seeds=$2 work=$(realpath -m "$3") seconds=$4
name=$(basename "$target")

if [ ! -x "$target" ]; then
    echo "$name: not built: the fuzz targets need clang++ and its libFuzzer runtime" \
        "(Debian: clang, libclang-rt-14-dev)"
    exit 77
fi

mkdir -p "$work/corpus"
rm -rf "$work/findings"
mkdir -p "$work/findings"
for seed in "$seeds"/*; do
    [ -e "$work/corpus/$(basename "$seed")" ] || cp "$seed" "$work/corpus/"
done

# Everything the target touches stays in a home folder of its own: in memory
# when possible, since every write the targets make is synced to disk (a home
# on disk makes them many times slower), else in the work folder.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch=$(mktemp -d /dev/shm/vantelo-fuzz.XXXXXX)
else
    rm -rf "$work/scratch"
    scratch="$work/scratch"
fi
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/config" "$scratch/data" "$scratch/runtime" "$scratch/tmp"
chmod 700 "$scratch" "$scratch/runtime"
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_RUNTIME_DIR="$scratch/runtime" TMPDIR="$scratch/tmp"

# The tokens of the target's file format, when there is a list of them.
options=()
dict="$(dirname "$seeds")/../dict/$(basename "$seeds").dict"
[ -f "$dict" ] && options+=(-dict="$dict")

# libFuzzer's own exit code for a finding is 77 by default: the skip code here.
status=0
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -error_exitcode=1 \
    -timeout_exitcode=1 -print_final_stats=1 -artifact_prefix="$work/findings/" \
    "${options[@]}" "$work/corpus" || status=$?

if [ "$status" -ne 0 ]; then
    echo "$name: FAILED (exit $status); failing inputs in $work/findings:"
    for f in "$work/findings"/*; do
        [ -f "$f" ] || continue
        echo "--- $f (replay: $target $f)"
        od -A d -c "$f" | head -40
    done
    exit 1
fi
echo "$name: no finding in ${seconds}s"
