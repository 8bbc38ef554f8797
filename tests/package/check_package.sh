#!/usr/bin/env bash
# The Debian package, built from the build tree into a temporary folder by
# scripts/package.sh, as a distribution would check it:
# - lintian reports no error and no warning;
# - the control fields, maintainer scripts and files the program needs are in
#   the .deb, and the programs' symbols in the -dbgsym .ddeb (lintian checks
#   that the programs are stripped);
# - the unpacked tree's AppStream metadata and desktop file validate.
# Usage: check_package.sh SOURCE_DIR BUILD_DIR
# Exit status 77 (skipped) when lintian or a validator is not installed.
set -uo pipefail
source_dir=$1
build_dir=$2

for tool in lintian appstreamcli desktop-file-validate dpkg-deb; do
    if ! command -v "$tool" > /dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# md5sums names each file by its path from the package's root, as dpkg reads it.
check_md5sums() { # ROOT MD5SUMS NAME
    if grep -qv '^[0-9a-f]\{32\}  [^/]' "$2"; then
        fail "the $3's md5sums names files by other than their path in the package"
    elif ! (cd "$1" && md5sum --quiet -c "$2"); then
        fail "the $3's md5sums do not match its files"
    fi
}

# package.sh runs lintian with --fail-on error,warning.
if ! BUILD_DIR=$build_dir PACKAGE_DIR=$work/out "$source_dir/scripts/package.sh" \
    > "$work/package.log" 2>&1; then
    cat "$work/package.log"
    fail "scripts/package.sh failed (above: cpack's output and lintian's tags)"
fi
grep -E '^[EWI]: ' "$work/package.log"

deb=$(ls "$work"/out/vantelo_*.deb 2> /dev/null | head -n 1)
ddeb=$(ls "$work"/out/vantelo-dbgsym_*.ddeb 2> /dev/null | head -n 1)
if [ -z "$deb" ]; then
    echo "FAIL: no .deb was built"
    exit 1
fi

[ "$(dpkg-deb -f "$deb" Section)" = net ] || fail "Section is not net"
dpkg-deb -f "$deb" Depends | grep -qE '(^|, )ppp(,|$)' || fail "Depends lacks ppp"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the shared libraries"

dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/ppp/peers/vantelo "$work/control/conffiles" || fail "the peers file is not a conffile"
# The maintainer scripts, run against a dpkg-statoverride that records its
# calls: the peers file is given to root:dip 0640 when no override exists, an
# administrator's override is kept, and the package's goes at purge.
mkdir -p "$work/fakebin"
printf '%s\n' '#!/bin/sh' 'echo "$*" >> "$STATOVERRIDE_LOG"' \
    '[ "$1" != --list ] || [ -n "$STATOVERRIDE_SET" ]' > "$work/fakebin/dpkg-statoverride"
chmod +x "$work/fakebin/dpkg-statoverride"
maintscript() { # SCRIPT ARGUMENT OVERRIDE_SET
    : > "$work/calls"
    PATH="$work/fakebin:$PATH" STATOVERRIDE_LOG="$work/calls" STATOVERRIDE_SET=$3 \
        sh "$work/control/$1" "$2" || echo "$1 $2 failed" >> "$work/calls"
    grep -v -- --list "$work/calls" | tr '\n' ';'
}
[ "$(maintscript postinst configure '')" = "--update --add root dip 0640 /etc/ppp/peers/vantelo;" ] ||
    fail "postinst configure does not give the peers file to root:dip 0640"
[ -z "$(maintscript postinst configure yes)" ] || fail "postinst replaces an existing override"
[ "$(maintscript postrm purge yes)" = "--remove /etc/ppp/peers/vantelo;" ] ||
    fail "postrm purge does not remove the override"
[ -z "$(maintscript postrm remove yes)" ] || fail "postrm remove drops the override before purge"

dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/vantelo usr/bin/vantelo-line usr/libexec/vantelo/vantelo-call \
    usr/share/man/man1/vantelo.1.gz usr/share/man/man1/vantelo-line.1.gz \
    usr/share/doc/vantelo/copyright usr/share/doc/vantelo/changelog.gz \
    usr/share/metainfo/org.example.vantelo.metainfo.xml \
    usr/share/applications/vantelo.desktop etc/ppp/peers/vantelo; do
    [ -f "$work/root/$file" ] || fail "the package lacks /$file"
done

# Every program and module of the .deb has its symbols in the .ddeb, found by
# its build id as debuggers look for them.
if [ -z "$ddeb" ]; then
    fail "no vantelo-dbgsym .ddeb was built"
else
    dpkg-deb -c "$ddeb" > "$work/ddeb.list"
    elves=0
    while IFS= read -r -d '' file; do
        [ "$(head -c 4 "$file")" = $'\x7fELF' ] || continue
        elves=$((elves + 1))
        id=$(readelf -n "$file" | sed -n 's/^ *Build ID: //p')
        grep -q "/usr/lib/debug/\.build-id/${id:0:2}/${id:2}\.debug$" "$work/ddeb.list" ||
            fail "the .ddeb lacks the symbols of ${file#"$work/root"} (build id '$id')"
    done < <(find "$work/root" -type f -print0)
    [ "$elves" -ge 3 ] || fail "only $elves programs found in the .deb"
    dpkg-deb -x "$ddeb" "$work/ddeb-root"
    dpkg-deb -e "$ddeb" "$work/ddeb-control"
    check_md5sums "$work/ddeb-root" "$work/ddeb-control/md5sums" .ddeb
fi
check_md5sums "$work/root" "$work/control/md5sums" .deb

# validate-tree checks the metadata against the desktop file it launches.
if ! appstreamcli validate-tree --no-net "$work/root"; then
    fail "the AppStream metadata of the unpacked package does not validate"
fi
if ! desktop-file-validate "$work/root/usr/share/applications/vantelo.desktop"; then
    fail "the desktop file does not validate"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "The package is lintian-clean and complete."
