#!/usr/bin/env bash
# The Windows pieces that need no Qt, built with mingw-w64 for 32-bit (i686)
# and 64-bit (x86_64) Windows and linked against the system's import libraries
# (statically for the compiler's own runtime, so no DLL of mingw is needed),
# then the x86_64 test programs of tests/windows run under wine64: the settings
# file through the private-profile calls, the line statistics reading, the
# dial-up records handed to rasapi32, and the tray icon (under xvfb-run). The
# i686 programs are only built: the link proves their imports.
#
# wine's prefix is the Windows build folder's (BUILD/wine/prefix, the one the
# program's own checks run in), made once and kept: its first creation takes
# some seconds more.
#
# Usage: scripts/check-windows-wine.sh [BUILD]   (default: build-windows)
# Exits non-zero when a build or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-windows}
started=$SECONDS

say() { printf '== %s\n' "$*"; }
fail() {
    printf 'check-windows-wine: %s\n' "$*" >&2
    exit 1
}

# shellcheck source=scripts/wine-prefix.sh
. "$root/scripts/wine-prefix.sh"
find_wine
for tool in i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ xvfb-run; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh windows)"
done

tmp=${TMPDIR:-/tmp}
work=$(mktemp -d "$tmp/vantelo-wine-build.XXXXXX")
trap 'rm -rf "$work"' EXIT

# ---- build ---------------------------------------------------------------
# The project's warnings; UNICODE as in the program's build (Qt defines it on
# Windows), so every call named here must be its ANSI form.
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror -Wold-style-cast -O1 -static
       -DUNICODE -D_UNICODE -I"$root/src" -I"$root/tests/windows")
# program: sources and import libraries
programs=(
    "profile_test:tests/windows/profile_test.cpp:-lkernel32"
    "statistics_test:tests/windows/statistics_test.cpp src/platform/win/stat_registry.cpp:-lrasapi32 -ladvapi32"
    "ras_test:tests/windows/ras_test.cpp:-lrasapi32"
    "tray_test:tests/windows/tray_test.cpp src/platform/win/win_shell.cpp:-lshell32 -luser32"
)

build_arch() {
    local arch=$1 entry name sources libs
    mkdir -p "$work/$arch"
    for entry in "${programs[@]}"; do
        IFS=: read -r name sources libs <<<"$entry"
        # shellcheck disable=SC2086 # sources and libs are lists
        if ! "$arch-w64-mingw32-g++" "${flags[@]}" $sources -o "$work/$arch/$name.exe" $libs \
            >"$work/$arch/$name.log" 2>&1; then
            echo "FAIL build $arch $name"
            cat "$work/$arch/$name.log"
            return 1
        fi
        # Only the system's DLLs: nothing of mingw's runtime.
        local dlls
        dlls=$("$arch-w64-mingw32-objdump" -p "$work/$arch/$name.exe" |
            sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
        if grep -qiE 'libgcc|libstdc|libwinpthread' <<<"$dlls"; then
            echo "FAIL build $arch $name needs mingw's DLLs: $dlls"
            return 1
        fi
        echo "built $arch/$name.exe (imports: $dlls)"
    done
}

say "building for i686 and x86_64"
build_arch i686 >"$work/i686.out" 2>&1 &
i686_job=$!
build_ok=1
build_arch x86_64 >"$work/x86_64.out" 2>&1 || build_ok=0
wait "$i686_job" || build_ok=0
cat "$work/i686.out" "$work/x86_64.out"
[ "$build_ok" = 1 ] || fail "the Windows build failed"

# ---- wine's prefix -------------------------------------------------------
use_wine_prefix "$build"

# ---- tests ---------------------------------------------------------------
failed=()
# Each program gets a minute at most: a hang counts as a failure.
run() {
    local name=$1
    shift
    say "$name (x86_64, wine64)"
    if ! timeout 60 "$@"; then
        failed+=("$name")
    fi
}

bin=$work/x86_64
run profile_test env -u DISPLAY -u WAYLAND_DISPLAY "$wine" "$bin/profile_test.exe"
run statistics_test env -u DISPLAY -u WAYLAND_DISPLAY "$wine" "$bin/statistics_test.exe"
run ras_test env -u DISPLAY -u WAYLAND_DISPLAY "$wine" "$bin/ras_test.exe"
"$wineserver" -k 2>/dev/null || true
# The tray needs a desktop: a private X server for this one program. wine's
# desktop process ends with the server, before the X server goes.
# shellcheck disable=SC2016 # the inner shell expands its own arguments
run tray_test xvfb-run -a sh -c '"$1" "$2"; rc=$?; "$3" -k; exit $rc' tray \
    "$wine" "$bin/tray_test.exe" "$wineserver"

say "done in $((SECONDS - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
    fail "failed: ${failed[*]}"
fi
echo "check-windows-wine: all passed"
