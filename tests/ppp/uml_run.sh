#!/usr/bin/env bash
# Runs a case script inside a User-mode Linux guest, where PPP is real: the
# host's kernel has none, the guest's has it as modules. The guest's root is
# the host's / (read through hostfs); its init is guest_init.sh.
#
# Usage: uml_run.sh [--mem SIZE] [--limit SECONDS] CASES ARTIFACTS [KEY=value...]
#   CASES      the case script the guest runs
#   ARTIFACTS  host folder for the results; emptied first. The guest writes
#              results.txt, guest.log, logs/ and screenshots there.
#   KEY=value  passed to the guest's init as environment variables (paths of
#              the programs under test: LINE_TOOL, VANTELO, EMULATOR, ...).
#   --limit    seconds the cases may take inside the guest (default 90)
#   --mem      the guest's memory (default 256M)
#
# Exit status: 0 every case passed, 1 something failed, 77 the guest cannot
# run on this machine (printed as "SKIPPED: reason").

# cleanup runs from the traps.
# shellcheck disable=SC2317
set -uo pipefail

MEM=256M
LIMIT=90
while [ $# -gt 0 ]; do
    case $1 in
    --mem) MEM=$2; shift 2 ;;
    --limit) LIMIT=$2; shift 2 ;;
    *) break ;;
    esac
done
if [ $# -lt 2 ]; then
    echo "usage: $0 [--mem SIZE] [--limit SECONDS] CASES ARTIFACTS [KEY=value...]" >&2
    exit 2
fi
CASES=$(realpath "$1")
ART=$2
shift 2
PPP_DIR=$(realpath "$(dirname "$0")")
PEERS=$(realpath "$PPP_DIR/../../data/ppp/vantelo")
NAME=$(basename "$CASES" .sh)

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "$NAME: FAIL: $*"; exit 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# ---- can the guest run here? ----
UML=$(command -v linux.uml) || skip "no linux.uml (Debian package user-mode-linux)"
KVER=$("$UML" --version 2>/dev/null | head -n 1)
[[ $KVER =~ ^[0-9]+\.[0-9] ]] || skip "$UML does not run here (no version from --version)"
[ -f "/usr/lib/uml/modules/$KVER/kernel/drivers/net/ppp/ppp_async.ko" ] ||
    skip "no PPP modules for the guest kernel $KVER under /usr/lib/uml/modules"
if [ "$(cat /proc/sys/kernel/yama/ptrace_scope 2>/dev/null)" = 3 ]; then
    skip "ptrace is disabled (kernel.yama.ptrace_scope = 3); User-mode Linux needs it"
fi
# The guest's memory is a file that UML maps executable: TMPDIR if set,
# else /dev/shm. Find one of them where a program may run.
exec_allowed()
{
    local probe
    [ -d "$1" ] && [ -w "$1" ] || return 1
    probe=$(mktemp "$1/uml-exec-probe.XXXXXX") || return 1
    cp /bin/true "$probe" && chmod 700 "$probe" && "$probe" 2>/dev/null
    local ok=$?
    rm -f "$probe"
    return $ok
}
MEMDIR=""
for dir in ${TMPDIR:+"$TMPDIR"} /dev/shm; do
    if exec_allowed "$dir"; then
        MEMDIR=$dir
        break
    fi
done
[ -n "$MEMDIR" ] || skip "neither TMPDIR (${TMPDIR:-unset}) nor /dev/shm allows running programs"
[ -f "$PEERS" ] || fail "no peers file at $PEERS"
[ -f "$CASES" ] || fail "no case script $CASES"
HOST_PATHS=""
for word in "$@"; do
    [[ $word =~ ^[A-Z_][A-Z0-9_]*=[^[:space:]]*$ ]] || fail "not a KEY=value word without blanks: \"$word\""
    [[ ${word#*=} == /* ]] && HOST_PATHS+=${HOST_PATHS:+,}${word%%=*}
done

# ---- the guest ----
mkdir -p "$ART" || fail "cannot create $ART"
ART=$(realpath "$ART")
rm -rf "${ART:?}"/*
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-uml.XXXXXX") || fail "no temporary folder"
UML_PID=""
cleanup()
{
    if [ -n "$UML_PID" ] && kill -0 "$UML_PID" 2>/dev/null; then
        # UML runs the guest's processes as host processes of its own group.
        kill -TERM -- "-$UML_PID" 2>/dev/null
        for _ in $(seq 30); do
            kill -0 "$UML_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL -- "-$UML_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

START=$(now_ms)
# uml_dir keeps UML's control socket out of the home folder; the guest gets
# no disk and no network but loopback and the namespaces it makes itself.
TMPDIR=$MEMDIR setsid "$UML" mem="$MEM" quiet root=/dev/root rootfstype=hostfs rootflags=/ rw \
    uml_dir="$WORK/uml" umid=vantelo-ppp con=null con0=null,fd:1 \
    ART="$ART" CASES="$CASES" PPP_DIR="$PPP_DIR" PEERS="$PEERS" LIMIT="$LIMIT" HOST_PATHS="$HOST_PATHS" "$@" \
    init=/bin/bash -- "$PPP_DIR/guest_init.sh" \
    </dev/null >"$WORK/console.log" 2>&1 &
UML_PID=$!

# The guest ends the cases itself within LIMIT; give boot and halt their share.
DEADLINE=$((START + (LIMIT + 30) * 1000))
while kill -0 "$UML_PID" 2>/dev/null; do
    if [ "$(now_ms)" -ge "$DEADLINE" ]; then
        echo "$NAME: the guest did not halt within $((LIMIT + 30))s; stopping it"
        break
    fi
    sleep 0.2
done
cleanup_console() { cp "$WORK/console.log" "$ART/console.log" 2>/dev/null; }
cleanup_console
TOTAL=$(($(now_ms) - START))

if [ ! -f "$ART/guest.log" ]; then
    if grep -qi 'ptrace' "$WORK/console.log"; then
        skip "User-mode Linux cannot use ptrace here: $(grep -i -m 1 ptrace "$WORK/console.log")"
    fi
    echo "----- console -----"
    tail -n 40 "$WORK/console.log"
    fail "the guest never reached its init"
fi

echo "----- $NAME: results -----"
cat "$ART/results.txt" 2>/dev/null
echo "--------------------------"
READY=$(cat "$ART/guest-ready" 2>/dev/null || echo "?")
STATUS=$(cat "$ART/exit" 2>/dev/null || echo "none")
printf '%s: guest ready %ss after the kernel started; %d.%ds in all, boot and halt included\n' \
    "$NAME" "$READY" $((TOTAL / 1000)) $((TOTAL % 1000 / 100))
if [ "$STATUS" = 0 ] && grep -q '^PASS' "$ART/results.txt" 2>/dev/null &&
    ! grep -q '^FAIL' "$ART/results.txt"; then
    echo "$NAME: PASS (artifacts in $ART)"
    exit 0
fi
echo "----- guest log (last 60 lines; all of it and each case's logs in $ART) -----"
tail -n 60 "$ART/guest.log"
fail "case script status $STATUS"
