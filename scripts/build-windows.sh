#!/usr/bin/env bash
# The program for 64-bit Windows, built on this machine: Qt for Windows from
# scripts/build-qt-mingw.sh (built once, then taken from its cache), then
# vantelo.exe and vantelo-line.exe cross-built with mingw-w64 (posix threads)
# and the project's own flags, warnings as errors, into BUILD (default
# build-windows). BUILD/bin then holds what runs on Windows: both programs,
# the Qt DLLs, the windows platform plugin and style, and the compiler's
# runtime DLLs; no DLL either imports is missing from it.
#
# Usage: scripts/build-windows.sh [BUILD]
# Prints the folder of the programs on its last line. VANTELO_QT_PREFIX names
# a Qt for Windows (MinGW 64-bit) to use instead of the cross-built one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)

fail() { echo "build-windows: $*" >&2; exit 1; }

# One build of a folder at a time: `make test` starts one in the background,
# and the test windows_program's own then waits for it and finds it done.
exec 8>"$build/.build-windows.lock"
if ! flock -n 8; then
    echo "build-windows: waiting for the build of $build already running"
    flock 8
fi

started=$SECONDS
if [ -n "${VANTELO_QT_PREFIX:-}" ]; then
    qt=$VANTELO_QT_PREFIX
    [ -f "$qt/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake" ] || fail "no Qt for Windows in '$qt'"
else
    qt=$(scripts/build-qt-mingw.sh "$build/qt-cache" | tail -n 1) || fail "no Qt for Windows"
    [ -f "$qt/ready" ] || fail "no Qt for Windows in '$qt'"
fi
echo "build-windows: Qt for Windows in $qt ($((SECONDS - started)) s)"

# The host's moc, rcc and uic (Debian's), the target's libraries: the cross
# root's and this Qt's (a second root beside the compiler's). No tests: they
# need the simulated line, which is not in the Windows build.
cat >"$build/toolchain.cmake" <<EOF
include("$root/cmake/mingw-w64-x86_64.cmake")
list(APPEND CMAKE_FIND_ROOT_PATH "$qt")
EOF
cmake -S "$root" -B "$build/cmake" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$build/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=/ \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DVANTELO_BUILD_TESTS=OFF >"$build/configure.log" 2>&1 ||
    { tail -n 30 "$build/configure.log" >&2; fail "the configuration failed ($build/configure.log)"; }
cmake --build "$build/cmake" -j"${JOBS:-$(nproc)}" --target vantelo vantelo-line ||
    fail "the build failed"

# What runs on Windows, in one folder.
bin=$build/bin
rm -rf "$bin"
mkdir -p "$bin/platforms" "$bin/styles"
cp "$build/cmake/src/app/vantelo.exe" "$build/cmake/tools/vantelo-line.exe" "$bin/"
cp "$qt"/bin/Qt6{Core,Gui,Widgets}.dll "$bin/"
cp "$qt/plugins/platforms/qwindows.dll" "$bin/platforms/"
cp "$qt"/plugins/styles/*.dll "$bin/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    path=$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")
    [ -f "$path" ] || path=/usr/x86_64-w64-mingw32/lib/$dll
    [ -f "$path" ] || fail "no $dll of the compiler's"
    cp "$path" "$bin/"
done

# What is shipped carries no symbols (the compiler's runtime comes with them).
find "$bin" -name '*.exe' -o -name '*.dll' | while read -r f; do
    x86_64-w64-mingw32-strip --strip-unneeded "$f" || fail "cannot strip $f"
done

# Every DLL a program or DLL of the folder imports is the system's or is there.
missing=$(find "$bin" -name '*.exe' -o -name '*.dll' | while read -r f; do
    x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'
done | sort -fu | while read -r dll; do
    case ${dll,,} in
    qt6* | lib*) [ -f "$bin/$dll" ] || echo "$dll" ;;
    esac
done)
[ -z "$missing" ] || fail "DLLs imported but not in $bin: $missing"
echo "build-windows: vantelo.exe and vantelo-line.exe with their DLLs in $bin ($((SECONDS - started)) s)"
echo "$bin"
