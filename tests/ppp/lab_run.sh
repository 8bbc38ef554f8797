#!/usr/bin/env bash
# Runs a case script inside the PPP lab's guest: a full-system QEMU machine in
# pure emulation (no KVM, no ptrace, nothing of the host's CPU features),
# booting Debian's own kernel, whose PPP is real even where the host's kernel
# has none. The guest's root is the host's /, read-only over 9p; its case
# runner is guest_init.sh, one case script per boot.
#
# Usage: lab_run.sh [--mem SIZE] [--limit SECONDS] [--cache DIR] CASES ARTIFACTS [KEY=value...]
#   CASES      the case script the guest runs
#   ARTIFACTS  host folder for the results; emptied first. The guest writes
#              results.txt, guest.log, logs/ and screenshots there, this
#              script console.log (the guest kernel's) and qemu.log.
#   KEY=value  environment of the case runner (the programs under test:
#              LINE_TOOL, VANTELO, CALL_PROGRAM, EMULATOR, TRAY_HOST).
#   --limit    seconds the cases may take inside the guest (default 90)
#   --mem      the guest's memory (default 512M)
#   --cache    where the guest is prepared (guest_prepare.sh) when
#              VANTELO_LAB_CACHE is not set and /var/cache/vantelo cannot be
#              written; prepared once, then reused
# Environment: VANTELO_LAB_CACHE, the guest's cache folder;
# VANTELO_LAB_ACCEL=kvm to use KVM instead of emulation (only when asked:
# a KVM that opens can still hang a guest).
#
# Exit status: 0 every case passed, 1 something failed; the last lines say
# which side is stuck: the host (no QEMU, no guest), the guest's boot, or
# the cases, with the guest's log.

set -uo pipefail

MEM=512M
LIMIT=90
FALLBACK_CACHE=""
while [ $# -gt 0 ]; do
    case $1 in
    --mem) MEM=$2; shift 2 ;;
    --cache) FALLBACK_CACHE=$2; shift 2 ;;
    --limit) LIMIT=$2; shift 2 ;;
    *) break ;;
    esac
done
if [ $# -lt 2 ]; then
    echo "usage: $0 [--mem SIZE] [--limit SECONDS] [--cache DIR] CASES ARTIFACTS [KEY=value...]" >&2
    exit 2
fi
CASES=$(realpath "$1")
ART=$2
shift 2
PPP_DIR=$(realpath "$(dirname "$0")")
PEERS=$(realpath "$PPP_DIR/../../data/ppp/vantelo")
NAME=$(basename "$CASES" .sh)

# shellcheck source-path=SCRIPTDIR source=../e2e/x_session.sh
source "$PPP_DIR/../e2e/x_session.sh"
fail() { echo "$NAME: FAIL: $*"; exit 1; }

# ---- the host's side ----
QEMU=$(command -v qemu-system-x86_64) || fail "host: no qemu-system-x86_64 (Debian package qemu-system-x86)"
CACHE=${VANTELO_LAB_CACHE:-}
if [ -z "$CACHE" ]; then
    CACHE=/var/cache/vantelo
    if ! { mkdir -p "$CACHE" 2>/dev/null && [ -w "$CACHE" ]; }; then
        [ -n "$FALLBACK_CACHE" ] || fail "host: /var/cache/vantelo cannot be written; set VANTELO_LAB_CACHE"
        CACHE=$FALLBACK_CACHE
    fi
fi
GUEST=$(bash "$PPP_DIR/guest_prepare.sh" "$CACHE" | tail -n 1)
[ -n "$GUEST" ] && [ -f "$GUEST/ready" ] || fail "host: the guest could not be prepared in $CACHE"
[ -f "$PEERS" ] || fail "host: no peers file at $PEERS"
[ -f "$CASES" ] || fail "host: no case script $CASES"
ACCEL=tcg,thread=single,tb-size=64
CPU=qemu64
if [ "${VANTELO_LAB_ACCEL:-}" = kvm ]; then
    ACCEL=kvm
    CPU=host
fi

mkdir -p "$ART" || fail "host: cannot create $ART"
ART=$(realpath "$ART")
rm -rf "${ART:?}"/*
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-lab.XXXXXX") || fail "host: no temporary folder"
mkdir "$WORK/ctl"
{
    for word in ART="$ART" CASES="$CASES" PPP_DIR="$PPP_DIR" PEERS="$PEERS" GUEST_DIR="$GUEST" \
        LIMIT="$LIMIT" "$@"; do
        [[ $word =~ ^[A-Z_][A-Z0-9_]*=[^\'[:space:]]*$ ]] ||
            fail "host: not a KEY=value word without blanks or quotes: \"$word\""
        echo "${word%%=*}='${word#*=}'"
    done
} >"$WORK/ctl/guest.env" || exit 1

QEMU_PID=""
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup()
{
    [ -z "$QEMU_PID" ] || end_process "$QEMU_PID" 3
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

START=$(now_ms)
# One guest CPU and no network device: the guest has loopback and the
# namespaces it makes itself. The host's root is shared read-only; only the
# results folder and the control folder can be written.
share() { echo "local,path=$1,mount_tag=$2,security_model=none,multidevs=remap$3"; }
# QEMU ends with this script, however it ends (a test runner's SIGKILL too).
setpriv --pdeathsig KILL "$QEMU" -nodefaults -no-user-config -machine pc -accel "$ACCEL" -cpu "$CPU" -smp 1 -m "$MEM" \
    -display none -monitor none -serial "file:$ART/console.log" -no-reboot \
    -kernel "$GUEST/vmlinux" -initrd "$GUEST/initrd.cpio" \
    -append "console=ttyS0 quiet loglevel=4 panic=-1 mitigations=off 8250.nr_uarts=1" \
    -virtfs "$(share / hostroot ,readonly=on)" \
    -virtfs "$(share "$ART" art "")" \
    -virtfs "$(share "$WORK/ctl" ctl "")" \
    </dev/null >"$ART/qemu.log" 2>&1 &
QEMU_PID=$!

# The guest ends the cases itself within LIMIT; give boot and power-off theirs.
DEADLINE=$((START + (LIMIT + 30) * 1000))
TIMED_OUT=""
while kill -0 "$QEMU_PID" 2>/dev/null; do
    if [ "$(now_ms)" -ge "$DEADLINE" ]; then
        TIMED_OUT=yes
        echo "$NAME: the guest did not power off within $((LIMIT + 30))s; stopping it"
        break
    fi
    sleep 0.2
done
if [ -z "$TIMED_OUT" ]; then
    wait "$QEMU_PID"
    QEMU_STATUS=$?
    QEMU_PID=""
    [ "$QEMU_STATUS" = 0 ] || {
        echo "----- qemu -----"
        tail -n 20 "$ART/qemu.log"
        fail "host: QEMU ended with status $QEMU_STATUS"
    }
fi
TOTAL=$(($(now_ms) - START))

if [ ! -f "$ART/guest.log" ]; then
    echo "----- guest console -----"
    tail -n 40 "$ART/console.log"
    echo "----- qemu -----"
    tail -n 20 "$ART/qemu.log"
    fail "guest: it never reached its case runner (the boot is stuck; see the console above)"
fi

echo "----- $NAME: results -----"
cat "$ART/results.txt" 2>/dev/null
echo "--------------------------"
READY=$(cat "$ART/guest-ready" 2>/dev/null || echo "?")
STATUS=$(cat "$ART/exit" 2>/dev/null || echo "none")
printf '%s: guest ready %ss after its kernel started; %d.%ds in all, boot and power-off included\n' \
    "$NAME" "$READY" $((TOTAL / 1000)) $((TOTAL % 1000 / 100))
if [ "$STATUS" = 0 ] && grep -q '^PASS' "$ART/results.txt" 2>/dev/null &&
    ! grep -q '^FAIL' "$ART/results.txt"; then
    echo "$NAME: PASS (artifacts in $ART)"
    exit 0
fi
echo "----- guest log (last 60 lines; all of it and each case's logs in $ART) -----"
tail -n 60 "$ART/guest.log"
if [ "$STATUS" = none ]; then
    fail "guest: the cases never ended (${TIMED_OUT:+stopped after the time limit; }see the guest log)"
fi
fail "cases: the case script ended with status $STATUS"
