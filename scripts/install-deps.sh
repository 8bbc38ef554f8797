#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vantelo need,
# only those that are missing. Nothing is downloaded from anywhere but Debian.
set -euo pipefail

packages=(
    g++ cmake make pkgconf clang-format dpkg-dev
    # the fuzz targets: clang++, and the runtime behind -fsanitize=fuzzer,address,undefined
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
    # a sans-serif face with the metrics the windows are laid out for
    fonts-liberation2
    # the end-to-end tests: a real X server, a window manager, xdotool, screenshots
    xvfb xauth openbox xdotool x11-apps imagemagick
    # the session bus, the tray host's gdbus calls, xprop/xwininfo, JSON from the line tool
    dbus libglib2.0-bin x11-utils jq
    # the real modem line: the system's pppd and chat, a real PPP link inside
    # User-mode Linux, socat, iproute2 for the ISP side
    ppp user-mode-linux socat iproute2 kmod
    # ping over the PPP link inside User-mode Linux
    iputils-ping
    # `make bench`: the syncs a running Vantelo makes
    strace
    # the package: manual pages made from --help, the package's checks
    # (lintian, AppStream and desktop-file validators), `man -l` for the pages
    help2man lintian appstream desktop-file-utils man-db bsdextrautils file
)

# `scripts/install-deps.sh windows`: what `make check-windows` needs besides,
# the Windows cross compilers and wine64 to run their programs headless.
if [ "${1:-}" = windows ]; then
    packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb xauth qt6-base-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
