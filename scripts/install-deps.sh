#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing or packaging
# Vantelo need, only those that are missing. Nothing is downloaded from anywhere but Debian.
set -euo pipefail

# What each purpose needs; `install-deps.sh PURPOSE...` installs the union.
#   run         building Vantelo and running it (`make run`)
#   test        besides, every test of `make test` (the package's tests among them)
#   package     besides, the Debian package (`make package`)
#   windows     the Windows checks (`make check-windows`)
#   bench-line  besides the tests', the dialers Vantelo is measured against
run=(
    g++ cmake make pkgconf
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
    # the tray asks the X server itself whether a tray is there
    libxcb1-dev
    # a sans-serif face with the metrics the windows are laid out for
    fonts-liberation2
)
package=(
    dpkg-dev
    # the manual pages made from --help, the package's checks (lintian,
    # AppStream and desktop-file validators), `man -l` for the pages
    help2man lintian appstream desktop-file-utils man-db bsdextrautils file
)
test=(
    "${run[@]}" "${package[@]}" clang-format
    # the fuzz targets: clang++, and the runtime behind -fsanitize=fuzzer,address,undefined
    clang libclang-rt-14-dev
    # the end-to-end tests: a real X server, a window manager, xdotool, screenshots
    xvfb xauth openbox xdotool x11-apps imagemagick
    # the session bus, the tray host's gdbus calls, xprop/xwininfo, JSON from the line tool
    dbus libglib2.0-bin x11-utils jq
    # the tray on real panels: Xfce's panel (its notification area plugin,
    # with xfconf's daemon for its settings), LXQt's panel (status notifier
    # plugin) and a stand-alone XEmbed tray
    xfce4-panel xfconf lxqt-panel trayer
    # the windows read as a screen reader reads them: the accessibility bus
    # and its registry, and Python's AT-SPI bindings
    at-spi2-core python3-pyatspi
    # the real modem line: the system's pppd and chat, socat, iproute2 for the
    # ISP side, ping over the link; and the lab's guest that gives them a
    # kernel with PPP: QEMU in emulation and a static busybox for its initramfs
    ppp socat iproute2 kmod iputils-ping qemu-system-x86 busybox-static xz-utils
    # the modem line's tests look at processes as they run (pgrep)
    procps
    # `make bench`: the syncs a running Vantelo makes
    strace
)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb xauth qt6-base-dev)
bench_line=("${test[@]}" wvdial)

packages=()
[ $# -gt 0 ] || set -- test
for purpose in "$@"; do
    case $purpose in
    run) packages+=("${run[@]}") ;;
    test) packages+=("${test[@]}") ;;
    package) packages+=("${run[@]}" "${package[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    bench-line) packages+=("${bench_line[@]}") ;;
    *) echo "install-deps.sh: no purpose \"$purpose\" (run, test, package, windows, bench-line)" >&2; exit 2 ;;
    esac
done

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
