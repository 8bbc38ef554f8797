#!/usr/bin/env bash
# Runs a command with a private /etc/ppp of the test's own: an empty options
# file and the peers file given, in a mount namespace of its own, so the
# system's /etc/ppp is neither read nor changed. Exits 77 (skipped) where no
# such namespace can be made, e.g. for a user who is not root.
#
# Usage: in_private_etc_ppp.sh PEERS_FILE COMMAND [ARGS...]
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 PEERS_FILE COMMAND [ARGS...]" >&2
    exit 2
fi
peers=$1
shift
if ! unshare --mount --propagation private true 2>/dev/null; then
    echo "SKIPPED: no private mount namespace can be made here (needs root)"
    exit 77
fi
etc=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-etc-ppp.XXXXXX")
trap 'rm -rf "$etc"' EXIT
mkdir -p "$etc/peers"
: >"$etc/options"
cp "$peers" "$etc/peers/vantelo"
export VANTELO_PRIVATE_ETC_PPP=1
unshare --mount --propagation private -- \
    bash -c 'mount --bind "$0" /etc/ppp && exec "$@"' "$etc" "$@"
