#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing or packaging
# Vantelo need, only those that are missing. Nothing is downloaded from anywhere but Debian.
set -euo pipefail

# What each purpose needs; `install-deps.sh PURPOSE...` installs the union.
#   run         building Vantelo and running it (`make run`)
#   test        besides, every test of `make test` (the package's and the
#               Windows program's among them)
#   package     besides, the Debian package (`make package`)
#   windows     the Windows checks (`make check-windows`)
#   bench-line  what `make bench-line` needs: the tests' packages, wvdial among them
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
windows=(
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb xauth qt6-base-dev
    # Qt for Windows cross-built from Debian's source (scripts/build-qt-mingw.sh):
    # the posix thread model, ninja, dpkg-source, this machine's moc/rcc/uic
    g++-mingw-w64-x86-64-posix ninja-build dpkg-dev qt6-base-dev-tools
    # the program under wine on a private X server with a window manager: its
    # windows found, the keys and clicks sent, screenshots taken (ImageMagick)
    openbox xdotool x11-utils imagemagick
    # the face the windows are laid out for, which wine finds through fontconfig
    fonts-liberation2
    # the Windows installer (make package-windows)
    nsis
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
    # the lab's quick line bench sets Vantelo beside wvdial on one line
    wvdial
    # the Windows program built and run under wine, its installer too
    "${windows[@]}"
)
bench_line=("${test[@]}")

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

# The Windows build fetches qtbase's source with `apt-get source`, which needs a
# deb-src entry for the archive and suite the machine's own Qt comes from. One
# is added beside the others, in a file of its own, only when none is there;
# the entry it copies is left untouched.
deb_src_file=/etc/apt/sources.list.d/vantelo-deb-src.sources
added_deb_src=0
ensure_deb_src() {
    local suite
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$suite" ] || { echo "install-deps.sh: no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
    # Any deb-src entry already naming this suite's main component will do.
    if grep -rhsE '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
        grep -qE "[[:space:]]${suite}[[:space:]].*\bmain\b"; then
        return 0
    fi
    if [ -f "$deb_src_file" ] || awk -v suite="$suite" '
        BEGIN { RS = ""; FS = "\n" }
        { t = 0; s = 0; c = 0
          for (i = 1; i <= NF; i++) {
              if ($i ~ /^Types:.*deb-src/) t = 1
              if ($i ~ /^Suites:/ && (" " $i " ") ~ (" " suite " ")) s = 1
              if ($i ~ /^Components:.*main/) c = 1
          }
          if (t && s && c) found = 1 }
        END { exit !found }' /etc/apt/sources.list.d/*.sources 2>/dev/null; then
        return 0
    fi
    # The binary entry of this suite: its archive and keyring, one-line or deb822.
    local uri="" keyring=""
    read -r uri keyring < <(awk -v suite="$suite" '
        BEGIN { RS = ""; FS = "\n" }
        { t = 0; s = 0; c = 0; u = ""; k = ""
          for (i = 1; i <= NF; i++) {
              if ($i ~ /^Types:.*(^|[ \t])deb([ \t]|$)/ || $i ~ /^Types:[ \t]*deb[ \t]*$/) t = 1
              if ($i ~ /^Suites:/ && (" " $i " ") ~ (" " suite " ")) s = 1
              if ($i ~ /^Components:.*main/) c = 1
              if ($i ~ /^URIs:/) { u = $i; sub(/^URIs:[ \t]*/, "", u); sub(/[ \t].*/, "", u) }
              if ($i ~ /^Signed-By:/) { k = $i; sub(/^Signed-By:[ \t]*/, "", k) }
          }
          if (t && s && c && u != "") { print u, (k == "" ? "-" : k); exit } }' \
        /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    if [ -z "$uri" ]; then
        read -r uri < <(grep -hsE "^[[:space:]]*deb[[:space:]]" /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
            sed -E 's/\[[^]]*\]//' | awk -v suite="$suite" '$3 == suite && / main/ { print $2; exit }' || true)
        keyring=-
    fi
    [ -n "$uri" ] || { echo "install-deps.sh: no apt entry for $suite main to take a deb-src entry from" >&2; return 1; }
    echo "Adding a deb-src entry for $suite main ($uri) in $deb_src_file"
    {
        echo "# Added by Vantelo's scripts/install-deps.sh: the Windows build's apt-get source."
        echo "Types: deb-src"
        echo "URIs: $uri"
        echo "Suites: $suite"
        echo "Components: main"
        [ "$keyring" = - ] || echo "Signed-By: $keyring"
    } | $sudo tee "$deb_src_file.new" >/dev/null
    $sudo mv "$deb_src_file.new" "$deb_src_file"
    added_deb_src=1
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
for purpose in "$@"; do
    [ "$purpose" != windows ] && [ "$purpose" != test ] || ensure_deb_src
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -eq 0 ]; then
    # A new deb-src entry is of use only once apt has read its lists; a failure
    # to read them takes the entry away again, so that apt stays as it was.
    if [ "$added_deb_src" = 1 ] && ! $sudo apt-get update -qq; then
        $sudo rm -f "$deb_src_file"
        echo "install-deps.sh: apt-get update failed with the deb-src entry; removed it" >&2
        exit 1
    fi
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if ! $sudo apt-get update -qq && [ "$added_deb_src" = 1 ]; then
    $sudo rm -f "$deb_src_file"
    echo "install-deps.sh: apt-get update failed with the deb-src entry; removed it" >&2
    exit 1
fi
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
