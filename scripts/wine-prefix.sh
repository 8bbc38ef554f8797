# shellcheck shell=bash
# What the scripts that run the Windows programs under wine64 share: wine64
# and its wineserver found, and wine's prefix private to the Windows build
# folder (BUILD/wine/prefix, with BUILD/wine/home as the home), made once with
# `wineboot -i` and kept. Sourced, not run; the sourcing script defines fail
# MESSAGE, which exits non-zero.

# find_wine: sets wine and wineserver, or fails.
find_wine()
{
    wine=$(command -v wine64 || true)
    [ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
    [ -n "$wine" ] || fail "wine64 is missing (scripts/install-deps.sh windows)"
    wineserver=$(dirname "$(readlink -f "$wine")")/wineserver
    [ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
    [ -n "$wineserver" ] || fail "wineserver is missing"
}

# use_wine_prefix BUILD: exports wine's settings for BUILD's prefix (no
# debugging output, no Mono or Gecko to install) and makes the prefix, and
# BUILD, when they are not there; drive_c is then its drive C. BUILD may be
# relative: wine is given the absolute path.
use_wine_prefix()
{
    local dir
    dir=$(mkdir -p "$1/wine/home" && cd "$1" && pwd) || fail "cannot make $1/wine/home"
    export WINEPREFIX=$dir/wine/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset WINEARCH
    export HOME=$dir/wine/home
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        local started=$SECONDS log=$dir/wine/wineboot.log
        mkdir -p "$WINEPREFIX"
        env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot -i >"$log" 2>&1 ||
            { cat "$log"; fail "wineboot -i failed"; }
        # Qt 6 is made for Windows 10; a new prefix says Windows 7.
        env -u DISPLAY -u WAYLAND_DISPLAY "$wine" reg add 'HKCU\Software\Wine' /v Version /d win10 /f \
            >>"$log" 2>&1 || { cat "$log"; fail "cannot make the prefix Windows 10"; }
        "$wineserver" -w
        echo "wine's prefix made in $WINEPREFIX in $((SECONDS - started)) s"
    fi
    drive_c=$WINEPREFIX/drive_c
    [ -d "$drive_c" ] || fail "wine's prefix has no drive C"
}
