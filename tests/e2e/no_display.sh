#!/usr/bin/env bash
# Started with no display at all, Vantelo says that it needs a desktop session
# and ends with status 2, before Qt is asked for a display (Qt itself would
# abort); --help and --version still answer there.
# Usage: no_display.sh VANTELO
set -uo pipefail
vantelo=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-no-display.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

bare() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" \
        XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
        XDG_RUNTIME_DIR="$work/runtime" "$vantelo" "$@" > "$work/out" 2> "$work/err"
}

mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
bare
status=$?
[ "$status" -eq 2 ] || fail "no display: exit status $status, not 2"
grep -q 'no desktop session' "$work/err" || fail "no display: no plain message: $(cat "$work/err")"
grep -q 'Reinstalling' "$work/err" && fail "no display: Qt's own abort message"
# Nothing was written: no settings, no phonebook, no runtime state.
[ -z "$(find "$work/config" "$work/data" "$work/runtime" -mindepth 1 2>/dev/null)" ] ||
    fail "no display: files were made: $(find "$work/config" "$work/data" "$work/runtime" -mindepth 1)"

bare --help
status=$?
[ "$status" -eq 0 ] && grep -q '^Usage: vantelo' "$work/out" || fail "--help without a display: status $status"
bare --version
status=$?
[ "$status" -eq 0 ] && grep -q '^vantelo ' "$work/out" || fail "--version without a display: status $status"

# An empty DISPLAY is no display either.
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY= HOME="$work/home" \
    XDG_RUNTIME_DIR="$work/runtime" "$vantelo" > /dev/null 2> "$work/err"
status=$?
[ "$status" -eq 2 ] || fail "empty DISPLAY: exit status $status, not 2"

# Qt told to use X11 or Wayland, without their display: the same.
for platform in xcb wayland "wayland;xcb"; do
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM="$platform" HOME="$work/home" \
        XDG_RUNTIME_DIR="$work/runtime" "$vantelo" > /dev/null 2> "$work/err"
    status=$?
    [ "$status" -eq 2 ] || fail "QT_QPA_PLATFORM=$platform without its display: exit status $status"
done

[ "$failures" -eq 0 ] && echo "no display: plain message and status 2; --help and --version answer"
exit $((failures != 0))
