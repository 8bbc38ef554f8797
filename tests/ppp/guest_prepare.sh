#!/usr/bin/env bash
# Makes the guest that carries the real PPP tests: Debian's own kernel for this
# release (the package linux-image-amd64 depends on), fetched with
# `apt-get download` and unpacked into a cache, never installed; its plain ELF
# image (QEMU boots it directly, without unpacking the compressed one at every
# boot); the few modules the guest loads, with their dependency files; and a
# small initramfs (static busybox) whose /init mounts the host's root over 9p.
#
# Usage: guest_prepare.sh CACHE
#   CACHE  the cache folder; the guest goes to CACHE/guest-KVER-HASH, where HASH
#          is that of this script and the initramfs' /init, so that a change of
#          either makes a new guest. Kept when complete; made again when not.
# Prints the guest's folder on its last line. Exit status: 0 ready, 1 failed
# (with the step that failed).
set -euo pipefail

[ $# = 1 ] || { echo "usage: $0 CACHE" >&2; exit 2; }
CACHE=$1
HERE=$(realpath "$(dirname "$0")")
STAGE1=$HERE/guest_stage1.sh

fail() { echo "guest_prepare: $*" >&2; exit 1; }

for tool in apt-cache apt-get dpkg-deb depmod xz; do
    command -v "$tool" >/dev/null || fail "no $tool on this machine"
done
BUSYBOX=/bin/busybox
# (grep reads the whole list: with -q it could end first, and busybox, cut off,
# would fail the pipe.)
[ -x "$BUSYBOX" ] && "$BUSYBOX" --list | grep -x switch_root >/dev/null ||
    fail "no static busybox at $BUSYBOX (Debian package busybox-static)"

# The kernel of this release: the package the metapackage depends on.
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'; }
KPKG=$(kernel_package)
if [ -z "$KPKG" ] && [ "$(id -u)" = 0 ]; then
    # A machine whose packages were all there never read the archive's lists.
    apt-get update -qq >&2
    KPKG=$(kernel_package)
fi
[ -n "$KPKG" ] || fail "apt-cache knows no kernel for linux-image-amd64 (run apt-get update)"
KVER=${KPKG#linux-image-}
HASH=$(cat "$0" "$STAGE1" | sha256sum | cut -c1-12)
GUEST=$CACHE/guest-$KVER-$HASH

# shellcheck source=scripts/cache_folder.sh
. "$HERE/../../scripts/cache_folder.sh"
cached_or_lock "$GUEST" "$CACHE/.prepare.lock"

WORK=$(mktemp -d "$CACHE/.prepare.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# apt's download sandbox user must be able to write the folder.
chmod 755 "$WORK"
mkdir -m 777 "$WORK/deb"
echo "guest_prepare: fetching $KPKG" >&2
(cd "$WORK/deb" && apt-get download -q "$KPKG" >&2) || fail "apt-get download $KPKG failed"
dpkg-deb -x "$WORK"/deb/*.deb "$WORK/pkg" || fail "cannot unpack $KPKG"
MODS=$WORK/pkg/lib/modules/$KVER
[ -d "$MODS" ] || fail "$KPKG has no lib/modules/$KVER"
depmod -b "$WORK/pkg" "$KVER" || fail "depmod of $KPKG failed"

mkdir -p "$WORK/guest"
# The plain image is the xz stream inside the compressed one.
VMLINUZ=$WORK/pkg/boot/vmlinuz-$KVER
OFFSET=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$VMLINUZ" | head -n 1 | cut -d: -f1)
[ -n "$OFFSET" ] || fail "no xz stream in $VMLINUZ"
tail -c +$((OFFSET + 1)) "$VMLINUZ" | xz -dc --single-stream >"$WORK/guest/vmlinux" 2>/dev/null ||
    [ -s "$WORK/guest/vmlinux" ] || fail "cannot unpack the kernel image"
head -c 4 "$WORK/guest/vmlinux" | grep -q 'ELF' || fail "the unpacked kernel is no ELF image"

# The modules: those of the initramfs (virtio, 9p, overlay) and those the
# guest loads later (PPP), each with what it needs, in load order.
modules_of() { modprobe -d "$WORK/pkg" -S "$KVER" --show-depends -a "$@" | awk '$1 == "insmod" { print $2 }' | awk '!seen[$0]++'; }
BOOT_MODULES=$(modules_of virtio_pci 9pnet_virtio 9p overlay) || fail "modprobe finds no virtio/9p modules"
LATE_MODULES=$(modules_of ppp_async ppp_deflate bsd_comp ppp_synctty) || fail "modprobe finds no PPP modules"
TREE=$WORK/guest/modules
for ko in $BOOT_MODULES $LATE_MODULES; do
    rel=${ko#"$WORK/pkg/"}
    mkdir -p "$TREE/$(dirname "$rel")"
    cp "$ko" "$TREE/$rel"
done
cp "$MODS"/modules.order "$MODS"/modules.builtin "$MODS"/modules.builtin.modinfo "$TREE/lib/modules/$KVER/"
depmod -b "$TREE" "$KVER" || fail "depmod of the guest's modules failed"

# The initramfs: busybox, the boot modules in order, and /init.
RAM=$WORK/initramfs
mkdir -p "$RAM/bin" "$RAM/modules"
cp "$BUSYBOX" "$RAM/bin/busybox"
for applet in sh mount mkdir insmod switch_root cat echo sleep poweroff; do
    ln -s busybox "$RAM/bin/$applet"
done
for ko in $BOOT_MODULES; do
    cp "$ko" "$RAM/modules/"
    basename "$ko" >>"$RAM/modules/order"
done
cp "$STAGE1" "$RAM/init"
chmod 755 "$RAM/init"
(cd "$RAM" && find . | "$BUSYBOX" cpio -o -H newc >"$WORK/guest/initrd.cpio" 2>/dev/null) ||
    fail "cannot make the initramfs"

echo "$KVER" >"$WORK/guest/kernel-version"
rm -rf "$GUEST"
mv "$WORK/guest" "$GUEST"
touch "$GUEST/ready"
# Older guests of this cache are not used any more.
for old in "$CACHE"/guest-*; do
    [ "$old" = "$GUEST" ] || rm -rf "$old"
done
echo "guest_prepare: guest ready in $GUEST ($(du -sh "$GUEST" | cut -f1))" >&2
echo "$GUEST"
