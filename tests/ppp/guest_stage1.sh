#!/bin/sh
# /init of the guest's initramfs (static busybox). Loads virtio and 9p, reads
# the run's settings from the control share, mounts the host's root read-only
# over 9p with the results folder read-write at its own path, and hands over
# to the case runner (guest_init.sh) on the host's root.
#
# Shares (QEMU -virtfs mount tags): hostroot (/, read-only), art (the results
# folder, read-write), ctl (holds guest.env: KEY='value' lines).
PATH=/bin

say() { echo "guest stage 1: $*"; }
stop() {
    say "$*"
    echo o >/proc/sysrq-trigger
    while :; do sleep 1; done
}

mkdir -p /proc /sys /dev /ctl /newroot
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r ko; do
    insmod "/modules/$ko" || stop "cannot load $ko"
done </modules/order

P9="trans=virtio,version=9p2000.L,msize=262144"
mount -t 9p -o "$P9,cache=none" ctl /ctl || stop "cannot mount the control share"
[ -f /ctl/guest.env ] || stop "no guest.env on the control share"
set -a
. /ctl/guest.env
set +a
mount -t 9p -o "$P9,ro,cache=loose" hostroot /newroot || stop "cannot mount the host's root"
# The results folder waits under /dev (writable, moved along) until the case
# runner has put its own file systems on /tmp and /run, then moves to ART.
mkdir -p /dev/.art
mount -t 9p -o "$P9,cache=none" art /dev/.art || stop "cannot mount the results folder"
umount /ctl

mount --move /proc /newroot/proc || stop "cannot move /proc"
mount --move /sys /newroot/sys || stop "cannot move /sys"
mount --move /dev /newroot/dev || stop "cannot move /dev"
exec switch_root /newroot /bin/bash "$PPP_DIR/guest_init.sh"
