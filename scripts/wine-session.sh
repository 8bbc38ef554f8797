# shellcheck shell=bash
# What the scripts that check the Windows programs under wine64 on a private X
# server share (check-windows-program.sh, check-windows-package.sh): the
# repository's root as the working folder (root), the X session and its
# helpers of tests/e2e/x_session.sh, wine and its prefix (wine-prefix.sh), a
# work folder, the end of it all, and the program's windows as xdotool sees
# them. Sourced, not run, once the script has set NAME; the script defines
# fail MESSAGE, which calls end_wine_session and exits non-zero.

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
root=$PWD
# shellcheck source=tests/e2e/x_session.sh
. "$root/tests/e2e/x_session.sh"
# shellcheck source=scripts/wine-prefix.sh
. "$root/scripts/wine-prefix.sh"

# make_wine_work: WORK, a fresh temporary folder (the X server's files, logs).
make_wine_work()
{
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-wine-${NAME#check-windows-}.XXXXXX") || exit 1
}

# end_wine_session: wine's server ends (once wine was found), then what the
# script started, the last first (the program, the window manager, the X
# server); WORK is removed.
end_wine_session()
{
    [ -z "${wineserver:-}" ] || "$wineserver" -k 2>/dev/null
    end_started_processes
    [ -z "${WORK:-}" ] || rm -rf "$WORK"
}

# The one visible window titled exactly TITLE.
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_named "$1")" ]; }
window_gone() { [ -z "$(window_named "$1")" ]; }
# click WINDOW X Y: a left click at the window's X, Y (client pixels).
click()
{
    xdotool mousemove --window "$1" "$2" "$3" click 1 || fail "cannot click in window $1"
    sleep 0.3
}
# The controls' places are the program's own, in twips (15 to a pixel).
px() { echo $(($1 / 15)); }
# shellcheck disable=SC2034 # the sourcing scripts' dialer window
dialer_title="Vantelo - BETA VERSION"
