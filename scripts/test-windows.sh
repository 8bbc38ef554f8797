#!/usr/bin/env bash
# The Windows program end to end, on this machine: Qt for Windows cross-built
# once or taken from its cache, vantelo.exe and vantelo-line.exe linked with
# their DLLs (scripts/build-windows.sh), both run under wine64 on a private
# X server (scripts/check-windows-program.sh), then installed, started and
# uninstalled with their installer (scripts/check-windows-package.sh).
#
# Usage: scripts/test-windows.sh [BUILD]   (default: build-windows)
# Run by `make check-windows` and, as the test windows_program, by `make test`,
# which starts the build in the background first, at the lowest priority
# (VANTELO_QT_NICE=19), on what the Linux build and the other tests leave of
# the processor; the test runs last and waits for that build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
started=$SECONDS
scripts/build-windows.sh "$build"
scripts/check-windows-program.sh "$build"
scripts/check-windows-package.sh "$build"
echo "test-windows: passed in $((SECONDS - started)) s"
