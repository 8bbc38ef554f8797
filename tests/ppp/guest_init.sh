#!/bin/bash
# The init of the User-mode Linux guest that carries the real PPP tests.
#
# The guest's root is the host's own / (hostfs), so it runs the host's pppd,
# socat and the project's build. Everything it writes goes to tmpfs folders
# of its own, except the results, which go to the host folder ART.
#
# Parameters arrive as environment variables from the kernel command line
# (uml_run.sh passes them as KEY=value words):
#   ART       host folder for results, logs and screenshots
#   CASES     the case script to run
#   PPP_DIR   tests/ppp in the source tree (etc-ppp/, guest_lib.sh)
#   PEERS     the shipped /etc/ppp/peers/vantelo (data/ppp/vantelo)
#   LIMIT     seconds the case script may take
#   plus whatever the case script needs (LINE_TOOL, VANTELO, EMULATOR, ...).
#
# Results: ART/results.txt (one line per case, written by the cases),
# ART/guest.log (everything said here), ART/exit (the case script's status).
# Ends with a power-off through sysrq: init must never exit, or the kernel panics.

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LC_ALL=C.UTF-8

halt_guest()
{
    sync
    echo o >/proc/sysrq-trigger
    # The power-off is asynchronous: never let init return.
    while :; do sleep 1; done
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys

if [ -z "${ART:-}" ] || [ ! -d "$ART" ]; then
    echo "guest: no results folder (ART=${ART:-})"
    halt_guest
fi
exec >"$ART/guest.log" 2>&1
read -r UPTIME _ </proc/uptime
echo "guest: init started ${UPTIME}s after the kernel"

step() { echo "guest: $*"; }
abort()
{
    echo "guest: $*"
    echo "FAIL  guest-setup  -  $*" >>"$ART/results.txt"
    echo 1 >"$ART/exit"
    halt_guest
}

step "file systems"
# /dev is the guest's own devtmpfs. Pseudo-terminals get a private devpts;
# /run, /tmp and /dev/shm are tmpfs so that nothing the guest writes there
# reaches the host's disk.
mkdir -p /dev/pts /dev/shm
# Host folders that the tmpfs mounts below will cover stay reachable here, so
# that a results folder or a build tree under /tmp can be shown again.
for dir in /run /tmp /var/tmp; do
    mkdir -p "/dev/.host$dir"
    mount --bind "$dir" "/dev/.host$dir"
done
mount -t devpts -o newinstance,ptmxmode=666,mode=620 devpts /dev/pts || abort "cannot mount devpts"
mount --bind /dev/pts/ptmx /dev/ptmx || abort "cannot bind /dev/pts/ptmx"
ln -sf /proc/self/fd /dev/fd
ln -sf /proc/self/fd/0 /dev/stdin
ln -sf /proc/self/fd/1 /dev/stdout
ln -sf /proc/self/fd/2 /dev/stderr
for dir in /run /tmp /dev/shm /var/tmp; do
    mount -t tmpfs -o mode=1777 tmpfs "$dir" || abort "cannot mount a tmpfs on $dir"
done
chmod 755 /run
# The paths the test passed in (ART, CASES, PPP_DIR, PEERS and those named in
# HOST_PATHS): where one lies under a folder now covered, its top folder under
# it is mounted back from the host.
for key in ART CASES PPP_DIR PEERS ${HOST_PATHS//,/ }; do
    path=${!key:-}
    for dir in /run /tmp /var/tmp; do
        case $path in "$dir"/*) ;; *) continue ;; esac
        rest=${path#"$dir"/}
        top=$dir/${rest%%/*}
        mountpoint -q "$top" && continue
        if [ -d "/dev/.host$top" ]; then mkdir -p "$top"; else touch "$top"; fi
        mount --bind "/dev/.host$top" "$top" || abort "cannot show $top of the host again"
    done
done
mkdir -p /run/lock
# The X server compiles keyboard maps into /var/lib/xkb.
[ -d /var/lib/xkb ] && mount -t tmpfs tmpfs /var/lib/xkb
ip link set lo up

step "PPP modules"
# The host has no module tree for the guest's kernel: point modprobe at the
# one that comes with linux.uml.
mkdir -p /run/modules/lib
ln -s /usr/lib/uml/modules /run/modules/lib/modules
modprobe -d /run/modules -a ppp_async ppp_deflate bsd_comp ppp_synctty ||
    abort "cannot load the PPP modules"
for _ in $(seq 50); do
    [ -c /dev/ppp ] && break
    sleep 0.02
done
[ -c /dev/ppp ] || abort "no /dev/ppp after loading ppp_generic"

step "network namespace of the ISP"
ip netns add isp || abort "cannot create the network namespace isp"
ip -n isp link set lo up || abort "cannot bring up loopback in isp"

step "/etc/ppp"
# A copy of the test options on tmpfs, with the shipped peers file as it is,
# mounted over /etc/ppp: pppd writes there (resolv.conf), and Debian's own
# options (auth, lock, modem, crtscts) must not apply.
cp -r "$PPP_DIR/etc-ppp" /run/etc-ppp || abort "cannot copy $PPP_DIR/etc-ppp"
mkdir -p /run/etc-ppp/peers
cp "$PEERS" /run/etc-ppp/peers/vantelo || abort "cannot copy the peers file $PEERS"
chmod 600 /run/etc-ppp/pap-secrets /run/etc-ppp/chap-secrets
chmod 640 /run/etc-ppp/peers/vantelo
mount --bind /run/etc-ppp /etc/ppp || abort "cannot mount the test options over /etc/ppp"

step "the host's files read-only"
# From here on the guest writes to the host nowhere but in ART: the host's
# root and the folders mounted back from it become read-only mounts (in the
# guest only), the results folder stays writable as a mount of its own.
mount --bind "$ART" "$ART" || abort "cannot mount $ART"
# A mount with a file open for writing cannot become read-only: the log
# continues through the results folder's own mount.
exec >>"$ART/guest.log" 2>&1
for dir in / $(awk '$2 ~ "^/(tmp|var/tmp|run)/" { print $2 }' /proc/mounts); do
    [ "$dir" = "$ART" ] && continue
    case $dir in /run/*) [ -d "/dev/.host$dir" ] || continue ;; esac
    mount -o remount,bind,ro "$dir" || abort "cannot make $dir read-only"
done
{ touch "$ART/.writable" && rm "$ART/.writable"; } || abort "$ART is not writable"
! touch /.guest-write-probe 2>/dev/null || abort "the host's root is still writable"

step "home"
export HOME=/run/home
export XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share
export XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=/run/user/0
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cd "$HOME" || abort "no home"

read -r UPTIME _ </proc/uptime
step "ready ${UPTIME}s after the kernel; running $CASES"
echo "$UPTIME" >"$ART/guest-ready"
timeout -k 3 "${LIMIT:-90}" bash "$CASES"
status=$?
[ $status = 124 ] && echo "FAIL  cases  -  the cases did not end within ${LIMIT:-90}s" >>"$ART/results.txt"
step "cases ended with status $status"
echo "$status" >"$ART/exit"
halt_guest
