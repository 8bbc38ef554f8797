#!/usr/bin/env bash
# Cross-builds Qt for 64-bit Windows with Debian's mingw-w64 (posix threads):
# qtbase of the version this machine's Qt tools are (moc, rcc and uic run from
# Debian's qt6-base-dev-tools while the program builds), from Debian's own
# source package (`apt-get source`, which needs a deb-src entry: scripts/
# install-deps.sh windows adds one). Only what the program uses is built: Core,
# Gui, Widgets and the windows platform plugin with its style; the rest is
# turned off. It is built for size (Qt's optimize_size, -Os rather than -O3):
# smaller DLLs, and a sixth less compiling than -O3 on the largest files.
#
# The result goes to CACHE/qt-mingw-VERSION-HASH, HASH being that of the
# build's recipe (the features and options below) and of the toolchain file,
# so that a change of either builds a new Qt; it is kept when complete and
# reused. A build that fails or is killed keeps its work folder
# (CACHE/.qt-mingw-VERSION-HASH.work), and the next run goes on from there
# rather than from the start; work folders of other recipes are removed.
#
# Usage: build-qt-mingw.sh [FALLBACK]
#   CACHE is $VANTELO_QT_CACHE when set, else /var/cache/vantelo when it can
#   be written, else FALLBACK (default: build-windows/qt-cache).
# Prints the Qt folder (the CMake prefix) on its last line. Exit status: 0
# ready, 1 failed (with the step that failed).
# Environment: VANTELO_QT_JOBS, parallel jobs (nproc); VANTELO_QT_NICE, the
# build's niceness (0; 19 leaves the machine to others).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
toolchain=$root/cmake/mingw-w64-x86_64.cmake

fail() { echo "build-qt-mingw: $*" >&2; exit 1; }

for tool in apt-get dpkg-source cmake ninja x86_64-w64-mingw32-g++-posix flock; do
    command -v "$tool" >/dev/null || fail "no $tool on this machine (scripts/install-deps.sh windows)"
done
host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null) ||
    fail "no qt6-base-dev-tools: the cross build needs this machine's moc, rcc and uic"
version=${host_version%%+*}
version=${version%%-*}

# Features the program does not use are off: no network (the program opens no
# connection of its own, and its single-instance guard uses a named pipe of
# the system's), no FreeType (the windows plugin's fonts are the system's,
# through GDI and DirectWrite), no HarfBuzz (the program's texts are Latin
# script, which Qt lays out glyph by glyph with the font's kerning; a script
# that needs OpenType shaping, such as Arabic or Devanagari, would be shown
# unshaped); the third-party libraries are Qt's own
# copies (nothing of the cross root's but the system's import libraries).
# Debian's source has no wintab (src/3rdparty/wintab), so no tablet events.
# No OpenGL either (the program's windows are painted by the raster engine):
# it is turned off at its input, as configure's -no-opengl does, since the
# feature alone leaves dynamic OpenGL on, with which the windows plugin does
# not compile.
# Direct2D stays: QtGui builds its DirectWrite font database only with it,
# and the windows plugin asks for that database whenever DirectWrite 3 is on.
# The windows the program does not have are left out too (about a sixth of
# the build): graphics view, MDI, calendar and date edits, the colour, font
# and wizard dialogs, dock widgets, undo, the ODF, Markdown and PDF writers,
# movies, splash screens, LCD numbers, dials, key-sequence edits, syntax
# highlighting, TUIO touch, and the Direct2D platform plugin (the windows
# plugin is the one used).
off=(sql dbus network freetype harfbuzz vulkan testlib printsupport concurrent xml tabletevent
     jpeg gif openssl schannel gssapi libproxy brotli
     system_zlib system_png system_jpeg system_harfbuzz system_pcre2 system_freetype
     system_doubleconversion
     graphicsview mdiarea calendarwidget colordialog fontdialog wizard dockwidget
     undocommand textodfwriter textmarkdownreader textmarkdownwriter pdf movie
     splashscreen lcdnumber dial keysequenceedit syntaxhighlighter tuiotouch direct2d1_1)
config=(-DCMAKE_BUILD_TYPE=Release
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
        -DBUILD_WITH_PCH=ON
        -DFEATURE_widgets=ON -DFEATURE_optimize_size=ON -DINPUT_opengl=no)
for f in "${off[@]}"; do config+=("-DFEATURE_$f=OFF"); done
hash=$( { printf '%s\n' "$version" "${config[@]}"; cat "$toolchain"; } | sha256sum | cut -c1-12)

cache=${VANTELO_QT_CACHE:-}
if [ -z "$cache" ]; then
    cache=/var/cache/vantelo
    if ! { mkdir -p "$cache" 2>/dev/null && [ -w "$cache" ]; }; then
        cache=${1:-$root/build-windows/qt-cache}
    fi
fi
qt=$cache/qt-mingw-$version-$hash

# shellcheck source=scripts/cache_folder.sh
. "$root/scripts/cache_folder.sh"
cached_or_lock "$qt" "$cache/.qt-mingw.lock"

started=$SECONDS
work=$cache/.qt-mingw-$version-$hash.work
# Work folders of other recipes (and of the older, randomly named kind) are
# of no use to this build; under the lock none of them is in use.
for stale in "$cache"/.qt-mingw.* "$cache"/.qt-mingw-*.work; do
    if [ -e "$stale" ] && [ "$stale" != "$work" ] && [ "$stale" != "$cache/.qt-mingw.lock" ]; then
        rm -rf "$stale"
    fi
done
mkdir -p "$work"
# apt's download sandbox user must be able to write the folder.
chmod 755 "$work"
source=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' 2>/dev/null | head -n 1 || true)
if [ -z "$source" ] || [ ! -f "$work/src/.unpacked" ]; then
    rm -rf "$work/src" "$work/build"
    mkdir -m 777 "$work/src"
    echo "build-qt-mingw: fetching qt6-base $host_version (apt-get source)" >&2
    (cd "$work/src" && apt-get source -q "qt6-base=$host_version" >&2) ||
        fail "apt-get source qt6-base=$host_version failed (is there a deb-src entry? scripts/install-deps.sh windows adds it)"
    source=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
    [ -n "$source" ] && [ -f "$source/CMakeLists.txt" ] || fail "no unpacked qtbase source in $work/src"
    touch "$work/src/.unpacked"
else
    echo "build-qt-mingw: going on with the build left in $work" >&2
fi
config=(-G Ninja -S "$source" -B "$work/build"
        -DCMAKE_TOOLCHAIN_FILE="$toolchain"
        -DCMAKE_INSTALL_PREFIX="$work/qt"
        "${config[@]}")

build_nice=(nice -n "${VANTELO_QT_NICE:-0}")
jobs=${VANTELO_QT_JOBS:-$(nproc)}
echo "build-qt-mingw: configuring qtbase $version for x86_64 Windows" >&2
"${build_nice[@]}" cmake "${config[@]}" >"$work/configure.log" 2>&1 ||
    { tail -n 40 "$work/configure.log" >&2; fail "qtbase's configuration failed"; }
configured=$SECONDS
echo "build-qt-mingw: building ($(ninja -C "$work/build" -n 2>/dev/null | tail -n 1 | sed 's/.*\/\([0-9]*\)\].*/\1/') steps, $jobs jobs)" >&2
"${build_nice[@]}" cmake --build "$work/build" -j"$jobs" >"$work/build.log" 2>&1 ||
    { grep -m 20 -B2 -A8 'error' "$work/build.log" >&2 || tail -n 40 "$work/build.log" >&2
      fail "qtbase's build failed"; }
cmake --install "$work/build" >"$work/install.log" 2>&1 ||
    { tail -n 20 "$work/install.log" >&2; fail "qtbase's install failed"; }
for need in lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake \
    bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll plugins/platforms/qwindows.dll; do
    [ -e "$work/qt/$need" ] || fail "the built Qt has no $need"
done

cat >"$work/qt/build-info.txt" <<EOF
qtbase $host_version (Debian's source), x86_64-w64-mingw32 posix
configured in $((configured - started)) s, built and installed in $((SECONDS - configured)) s
($jobs jobs, niceness ${VANTELO_QT_NICE:-0}, load $(cut -d' ' -f1-3 /proc/loadavg) at the end)
EOF
rm -rf "$qt"
mv "$work/qt" "$qt"
touch "$qt/ready"
rm -rf "$work"
# Older builds of this cache are not used any more.
for old in "$cache"/qt-mingw-*; do
    [ "$old" = "$qt" ] || rm -rf "$old"
done
echo "build-qt-mingw: Qt ready in $qt in $((SECONDS - started)) s ($(du -sh "$qt" | cut -f1))" >&2
echo "$qt"
