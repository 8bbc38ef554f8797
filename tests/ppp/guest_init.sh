#!/bin/bash
# The case runner of the guest that carries the real PPP tests: PID 1 after
# the initramfs (guest_stage1.sh) has mounted the host's root read-only over
# 9p, so the guest runs the host's own pppd, chat, X server and the project's
# build. It gives the guest its own writable folders, loads PPP, makes the
# ISP's network namespace, the users the cases run as and the programs
# installed as the package installs them, runs one case script and powers off.
#
# Parameters (guest.env on the control share, read by the initramfs):
#   ART        the results folder (the host's, read-write, at the same path)
#   CASES      the case script to run
#   PPP_DIR    tests/ppp in the source tree (etc-ppp/, guest_lib.sh)
#   PEERS      the shipped /etc/ppp/peers/vantelo (data/ppp/vantelo)
#   GUEST_DIR  the prepared guest (its modules/ tree)
#   LIMIT      seconds the case script may take
#   LINE_TOOL, VANTELO, CALL_PROGRAM, EMULATOR, TRAY_HOST: the programs.
#
# Results: ART/results.txt (one line per case, written by the cases),
# ART/guest.log (everything said here), ART/exit (the case script's status).
# Ends with a power-off through sysrq: PID 1 must never exit.

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LC_ALL=C.UTF-8

halt_guest()
{
    sync
    echo o >/proc/sysrq-trigger
    # The power-off is asynchronous: never let PID 1 return.
    while :; do sleep 1; done
}

if [ -z "${ART:-}" ] || [ ! -d /dev/.art ]; then
    echo "guest: no results folder (ART=${ART:-})"
    halt_guest
fi
exec >/dev/.art/guest.log 2>&1
read -r UPTIME _ </proc/uptime
echo "guest: case runner started ${UPTIME}s after the kernel"

step()
{
    local up
    read -r up _ </proc/uptime
    echo "guest: [${up}s] $*"
}
abort()
{
    echo "guest: $*"
    echo "FAIL  guest-setup  -  $*" >>/dev/.art/results.txt
    echo 1 >/dev/.art/exit
    halt_guest
}

step "file systems"
# /run and /dev/shm are the guest's own tmpfs; /tmp and /var/tmp show the
# host's files with the guest's writes on a tmpfs above them (gone at
# power-off). Pseudo-terminals get a private devpts whose lines belong to the
# group dialout, as a modem's device does.
# (Each program started costs about a tenth of a second in the emulated
# guest: the shell's own commands do what they can.)
mount -t tmpfs -o mode=755 tmpfs /run || abort "cannot mount a tmpfs on /run"
mkdir -p /dev/pts /dev/shm /run/lock /run/.overlay/tmp/up /run/.overlay/tmp/work \
    /run/.overlay/var/tmp/up /run/.overlay/var/tmp/work
chmod 1777 /run/lock /run/.overlay/tmp/up /run/.overlay/var/tmp/up
mount -t tmpfs -o mode=1777 tmpfs /dev/shm || abort "cannot mount a tmpfs on /dev/shm"
# group_id NAME: the group's number, from /etc/group.
group_id()
{
    local name gid
    while IFS=: read -r name _ gid _; do
        [ "$name" = "$1" ] && { echo "$gid"; return 0; }
    done </etc/group
    return 1
}
DIALOUT_GID=$(group_id dialout) || abort "the host has no group dialout"
mount -t devpts -o "newinstance,ptmxmode=666,mode=660,gid=$DIALOUT_GID" devpts /dev/pts ||
    abort "cannot mount devpts"
mount --bind /dev/pts/ptmx /dev/ptmx || abort "cannot bind /dev/pts/ptmx"
ln -sf /proc/self/fd /dev/fd
ln -sf /proc/self/fd/0 /proc/self/fd/1 /proc/self/fd/2 /dev/ 2>/dev/null
for dir in /tmp /var/tmp; do
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=/run/.overlay$dir/up,workdir=/run/.overlay$dir/work" "$dir" ||
        abort "cannot put an overlay on $dir"
done
case $ART in
/run/* | /dev/*) abort "the results folder $ART is under a folder the guest replaces" ;;
esac
mkdir -p "$ART" 2>/dev/null
mount --move /dev/.art "$ART" || abort "cannot move the results folder to $ART"
exec >>"$ART/guest.log" 2>&1
{ : >"$ART/.writable"; } 2>/dev/null || abort "$ART is not writable"
rm -f "$ART/.writable"
! { : >/.guest-write-probe; } 2>/dev/null || abort "the host's root is writable"
# The X server compiles keyboard maps into /var/lib/xkb.
[ -d /var/lib/xkb ] && mount -t tmpfs tmpfs /var/lib/xkb
ip link set lo up

step "PPP modules"
modprobe -d "$GUEST_DIR/modules" -a ppp_async ppp_deflate bsd_comp ppp_synctty ||
    abort "cannot load the PPP modules from $GUEST_DIR/modules"
for _ in $(seq 50); do
    [ -c /dev/ppp ] && break
    sleep 0.02
done
[ -c /dev/ppp ] || abort "no /dev/ppp after loading ppp_generic"

step "network namespace of the ISP"
ip netns add isp || abort "cannot create the network namespace isp"
ip -n isp link set lo up || abort "cannot bring up loopback in isp"

step "/etc/ppp"
# The subscriber's /etc/ppp, on tmpfs, mounted over the host's: Debian's
# own options (auth, lock, modem, crtscts) do not apply, pppd may write there
# (resolv.conf), the secrets files hold no secret (as Debian ships them), the
# shipped peers file is there as the package installs it (root:dip 0640), and
# so are the other dialers' peers files as their packages install them. The
# ISP's pppd sees its own /etc/ppp, the test options with the account's
# secrets, mounted over that in the ISP's namespace (/run/lab/isp-pppd).
mkdir -p /run/etc-ppp/peers /run/etc-users /run/lab/bin /run/lab/libexec/vantelo \
    /run/home/dialer /run/home/nodip /run/home/nodialout /run/home/nogroups \
    /run/user/2001 /run/user/2002 /run/user/2003 /run/user/2004
cp "$PPP_DIR/etc-ppp/options" "$PEERS" /run/etc-ppp/ || abort "cannot copy the test options and $PEERS"
mv /run/etc-ppp/vantelo /run/etc-ppp/peers/vantelo
for secrets in pap-secrets chap-secrets; do
    echo "# Secrets for authentication ($secrets): none on this machine." >"/run/etc-ppp/$secrets"
done
for peer in wvdial; do
    [ -f "/etc/ppp/peers/$peer" ] && echo "$(<"/etc/ppp/peers/$peer")" >"/run/etc-ppp/peers/$peer"
done
cp -r "$PPP_DIR/etc-ppp" /run/etc-ppp-isp || abort "cannot copy $PPP_DIR/etc-ppp"
cat >/run/lab/isp-pppd <<'EOF'
#!/bin/sh
# The ISP's pppd, run by `ip netns exec isp` (a mount namespace of its own):
# its /etc/ppp is the ISP's, with the account's secrets.
mount --bind /run/etc-ppp-isp /etc/ppp || exit 1
exec pppd call isp "$@"
EOF
chmod 600 /run/etc-ppp/pap-secrets /run/etc-ppp/chap-secrets /run/etc-ppp-isp/pap-secrets \
    /run/etc-ppp-isp/chap-secrets && chmod 755 /run/lab/isp-pppd && chmod 640 /run/etc-ppp/peers/vantelo ||
    abort "cannot set the modes of /etc/ppp's files"
chown root:dip /run/etc-ppp/peers/vantelo || abort "cannot give the peers file to root:dip"
mount --bind /run/etc-ppp /etc/ppp || abort "cannot mount the subscriber's /etc/ppp"
PPPD_MODE=$(stat -c '%U:%G %a' /usr/sbin/pppd)
[ "$PPPD_MODE" = "root:dip 4754" ] ||
    abort "pppd is not installed as Debian ships it (root:dip 4754): $PPPD_MODE"

step "users"
# Ordinary users with homes of their own, as on a desktop: dialer in dialout
# (to open the modem) and dip (to run pppd), and one for each way of lacking
# a group. The host's account files stay as they are; the guest's copies,
# with these users added, are mounted over them.
USERS=(dialer:2001:dialout,dip nodip:2002:dialout nodialout:2003:dip nogroups:2004:)
{
    echo "$(</etc/passwd)"
    for u in "${USERS[@]}"; do
        IFS=: read -r name uid _ <<<"$u"
        echo "$name:x:$uid:$uid:$name:/run/home/$name:/bin/bash"
    done
} >/run/etc-users/passwd
{
    while IFS= read -r line; do
        group=${line%%:*}
        for u in "${USERS[@]}"; do
            IFS=: read -r name _ groups <<<"$u"
            [[ ,$groups, == *",$group,"* ]] || continue
            [[ $line == *: ]] && line+=$name || line+=,$name
        done
        echo "$line"
    done </etc/group
    for u in "${USERS[@]}"; do
        IFS=: read -r name uid _ <<<"$u"
        echo "$name:x:$uid:"
    done
} >/run/etc-users/group
if [ -f /etc/shadow ]; then
    {
        echo "$(</etc/shadow)"
        for u in "${USERS[@]}"; do echo "${u%%:*}:!:19000:0:99999:7:::"; done
    } >/run/etc-users/shadow
    chmod 640 /run/etc-users/shadow
fi
for u in "${USERS[@]}"; do
    IFS=: read -r name uid _ <<<"$u"
    chown "$uid:$uid" "/run/home/$name" "/run/user/$uid" || abort "cannot give $name its folders"
done
chmod 700 /run/home/* /run/user/*
for f in passwd group shadow; do
    [ -f "/run/etc-users/$f" ] || continue
    mount --bind "/run/etc-users/$f" "/etc/$f" || abort "cannot mount the guest's /etc/$f"
done
IDS=$(id dialer)
[[ $IDS == *"(dialout)"* && $IDS == *"(dip)"* ]] || abort "dialer is not in dialout and dip: $IDS"

step "the programs, installed"
# As the package installs them: vantelo and vantelo-line in one folder,
# vantelo-call in ../libexec/vantelo beside it, reachable by every user
# whatever the modes of the build tree's folders (each program is mounted
# there from the build, not copied).
SOURCES=() TARGETS=()
for key in LINE_TOOL VANTELO EMULATOR TRAY_HOST CALL_PROGRAM; do
    path=${!key:-}
    [ -n "$path" ] || continue
    [ -x "$path" ] || abort "no program at $path"
    target=/run/lab/bin/${path##*/}
    if [ "$key" = CALL_PROGRAM ]; then
        target=/run/lab/libexec/vantelo/vantelo-call
    else
        printf -v "$key" '%s' "$target"
        export "${key?}"
    fi
    SOURCES+=("$path")
    TARGETS+=("$target")
done
[ ${#TARGETS[@]} = 0 ] || touch "${TARGETS[@]}" || abort "cannot make the programs' places"
for i in "${!TARGETS[@]}"; do
    mount --bind "${SOURCES[$i]}" "${TARGETS[$i]}" || abort "cannot install ${SOURCES[$i]}"
done
chmod 755 /run/lab /run/lab/bin /run/lab/libexec /run/lab/libexec/vantelo

step "home"
# The cases run as dialer: its folders are the ones they look into.
export LAB_USER=dialer
export HOME=/run/home/dialer
export XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share
export XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=/run/user/2001
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
