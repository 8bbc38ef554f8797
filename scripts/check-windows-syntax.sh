#!/usr/bin/env bash
# Every translation unit of the Windows build compiled for Windows, for
# syntax and warnings only (nothing is linked, so no Qt for Windows is needed):
# mingw-w64's g++ for 32-bit (i686) and 64-bit (x86_64) Windows, against this
# machine's Qt 6 headers, with the project's own warning flags.
#
# The units are those the Windows build compiles: src/ and tools/ outside
# src/platform/, and the platform's sources that src/platform/windows-sources.txt
# names, the list the build takes them from. Then the records' sizes are checked
# against the system's headers, and the system's calls linked as the platform
# headers declare them.
#
# Usage: scripts/check-windows-syntax.sh [i686|x86_64 ...]
#   With no architecture named, the units are compiled for i686 only, and the
#   records and calls checked for both: the 64-bit build of the program
#   (scripts/build-windows.sh, which runs beside this check in `make test` and
#   `make check-windows`) compiles every one of these units for x86_64 for
#   real, against Qt for Windows, warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."

qt=/usr/include/x86_64-linux-gnu/qt6
archs=("$@")
unit_archs=("$@")
if [ ${#archs[@]} -eq 0 ]; then
    archs=(i686 x86_64)
    unit_archs=(i686)
fi

for arch in "${archs[@]}"; do
    command -v "$arch-w64-mingw32-g++" >/dev/null || {
        echo "check-windows-syntax: $arch-w64-mingw32-g++ missing (scripts/install-deps.sh windows)" >&2
        exit 2
    }
done
[ -d "$qt/QtCore" ] || { echo "check-windows-syntax: Qt 6 headers missing ($qt)" >&2; exit 2; }

# Debian's Qt headers were configured for Linux. What that changes does not
# reach these units: the system comes from the compiler's _WIN32 (through
# qsystemdetection.h), the pointer size from its __SIZEOF_POINTER__
# (qprocessordetection.h), and the Linux-only features of qtgui-config.h
# (xcb) are used by no header the program includes; so no setting is
# overridden here.
units=()
while IFS= read -r f; do units+=("$f"); done < <(
    {
        find src tools -name '*.cpp' -not -path 'src/platform/*'
        sed -n -E 's#^(core|gui) +(.*\.cpp)$#src/platform/\2#p' src/platform/windows-sources.txt
    } | sort)

# The project's flags (vantelo_common in CMakeLists.txt), and UNICODE as Qt's
# CMake package defines it for every target on Windows. Qt's headers are
# system headers: their own warnings do not count.
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -Wold-style-cast
       -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -DQT_NO_FOREACH
       -DVANTELO_VERSION='"0.0.0"' -DVANTELO_VERSION_MAJOR=0 -DVANTELO_VERSION_MINOR=0
       -DVANTELO_VERSION_PATCH=0 -DUNICODE -D_UNICODE
       -Isrc -isystem "$qt")
for m in QtCore QtGui QtWidgets QtMultimedia; do flags+=(-isystem "$qt/$m"); done

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

# One unit: its compiler's output is kept only when it fails.
check() { # arch unit
    local out="$log/$1-${2//\//_}.txt"
    if "$1-w64-mingw32-g++" "${flags[@]}" "$2" >"$out" 2>&1; then
        rm -f "$out"
    else
        echo "FAIL $1 $2"
        return 1
    fi
}

failed=0
for arch in "${unit_archs[@]}"; do
    for u in "${units[@]}"; do printf '%s\0%s\0' "$arch" "$u"; done
done | xargs -0 -n2 -P2 bash -c "$(declare -p flags log); $(declare -f check)"'; check "$0" "$1"' ||
    failed=1

# The program's records (platform/ras.h, shell.h, dialogs.h) check their own
# sizes against fixed numbers; here the system's headers confirm that those
# numbers are the first versions' sizes as the system knows them.
records() { # arch
    "$1-w64-mingw32-g++" -std=c++20 -fsyntax-only -Werror -x c++ - <<'CPP'
#include <windows.h>
#include <commdlg.h>
#include <ras.h>
#include <shellapi.h>
#include <cstddef>
constexpr std::size_t up4(std::size_t n) { return (n + 3) / 4 * 4; }
constexpr bool wide = sizeof(void *) == 8;
static_assert(offsetof(RASENTRYNAMEA, dwFlags) == 264);
static_assert(up4(offsetof(RASCONNA, szPhonebook)) == (wide ? 416 : 412));
static_assert(offsetof(RASCONNA, szDeviceName) == (wide ? 286 : 282));
static_assert(up4(offsetof(RASCONNSTATUSA, szPhoneNumber)) == 160);
static_assert(offsetof(RASDIALPARAMSA, dwSubEntry) == 1052);
static_assert(NOTIFYICONDATAA_V1_SIZE == (wide ? 104 : 88));
static_assert(offsetof(NOTIFYICONDATAA, hIcon) == (wide ? 32 : 20));
static_assert(offsetof(OPENFILENAMEA, pvReserved) == (wide ? 136 : 76));
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) == (wide ? 128 : 72));
CPP
}
# A check run for each architecture: its output is kept only when it fails.
each_arch() { # check what-failing-means
    local arch
    for arch in "${archs[@]}"; do
        if ! "$1" "$arch" >"$log/$arch-$1.txt" 2>&1; then
            echo "FAIL $arch $2"
            failed=1
        else
            rm -f "$log/$arch-$1.txt"
        fi
    done
}
each_arch records "the records' sizes differ from the system's first versions"

# The system's calls as the platform headers declare them (their own records,
# calling convention and argument sizes) must find the system's entry points:
# one program calling each is linked (not run) against the import libraries,
# with the Qt-free sources of platform/win.
calls() { # arch
    local dir="$log/$1-calls"
    mkdir -p "$dir"
    cat >"$dir/calls.cpp" <<'CPP'
#include "platform/dialogs.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/sound.h"
int main(int argc, char **)
{
    if (argc > 0)
        return 0;
    DWORD bytes = 0, count = 0;
    RASENTRYNAME entry{};
    RasEnumEntriesA(nullptr, nullptr, &entry, &bytes, &count);
    RASCONN conn{};
    RasEnumConnectionsA(&conn, &bytes, &count);
    RASCONNSTATUS status{};
    RasGetConnectStatusA(conn.hrasconn, &status);
    char text[256];
    RasGetErrorStringA(600, text, sizeof text);
    RASDIALPARAMS params{};
    BOOL stored = FALSE;
    RasGetEntryDialParamsA(nullptr, &params, &stored);
    RasSetEntryDialParamsA(nullptr, &params, FALSE);
    HRASCONN handle{};
    RasDialA(nullptr, nullptr, &params, RASDIAL_NOTIFIER_HWND, platform::dialNotifier(nullptr),
             &handle);
    RasHangUpA(handle);
    NOTIFYICONDATA icon{};
    Shell_NotifyIconA(NIM_ADD, &icon);
    WinExec("Start.exe http://localhost/", SW_HIDE);
    sndPlaySoundA("x.wav", SND_ASYNC | SND_NODEFAULT);
    OPENFILENAME ofn{};
    GetOpenFileNameA(&ofn);
    MessageBoxA(nullptr, "", "", MB_OK);
    HKEY key{};
    RegOpenKeyExA(HKEY_DYN_DATA, "PerfStats\\StatData", 0, KEY_QUERY_VALUE, &key);
    RegCloseKey(key);
    return 0;
}
CPP
    local qtfree=()
    # Qt-free: every header the file reaches is found without Qt's (the
    # Windows compiler is not given them here).
    for f in src/platform/win/*.cpp; do
        "$1-w64-mingw32-g++" -std=c++20 -Isrc -E "$f" -o /dev/null 2>/dev/null && qtfree+=("$f")
    done
    "$1-w64-mingw32-g++" -std=c++20 -Wall -Wextra -Wpedantic -Werror -Wold-style-cast -Isrc \
        "$dir/calls.cpp" "${qtfree[@]}" -o "$dir/calls.exe" \
        -lrasapi32 -ladvapi32 -lshell32 -lwinmm -lcomdlg32 -luser32
}
each_arch calls "the system's calls do not link as declared"

for f in "$log"/*.txt; do
    [ -e "$f" ] || continue
    echo "---- $(basename "$f" .txt)"
    head -n 30 "$f"
done
n=$((${#units[@]} * ${#unit_archs[@]}))
if [ "$failed" -ne 0 ]; then
    echo "check-windows-syntax: $(find "$log" -name '*.txt' | wc -l) of $n units and checks failed (${unit_archs[*]}; checks ${archs[*]})"
    exit 1
fi
echo "check-windows-syntax: all $n units compile for Windows (${#units[@]} units; ${unit_archs[*]});" \
    "the records match the system's first versions and the system's calls link (${archs[*]})"
