#!/usr/bin/env bash
# The Windows installer, vantelo-VERSION-setup.exe, made with NSIS from the
# programs and DLLs of BUILD/bin (scripts/build-windows.sh builds them first):
# a per-user install with a Start menu entry and an uninstaller
# (data/windows/vantelo.nsi).
#
# Usage: scripts/package-windows.sh [BUILD]   (default: build-windows)
# Prints the installer's path on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}

fail() { echo "package-windows: $*" >&2; exit 1; }
command -v makensis >/dev/null || fail "no makensis (scripts/install-deps.sh windows installs nsis)"

bin=$(scripts/build-windows.sh "$build" | tail -n 1)
[ -f "$bin/vantelo.exe" ] || fail "no programs in '$bin'"
version=$(sed -n 's/^project(Vantelo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
setup=$(cd "$build" && pwd)/vantelo-$version-setup.exe
makensis -V2 -DVERSION="$version" -DBIN="$bin" -DOUTFILE="$setup" data/windows/vantelo.nsi ||
    fail "makensis failed"
echo "package-windows: $(du -h "$setup" | cut -f1) installer"
echo "$setup"
