#!/usr/bin/env bash
# The Windows checks that need no Qt for Windows: every translation unit
# compiled for Windows, then the Windows pieces built and their tests run
# under wine64, in the prefix of the Windows build folder.
#
# Usage: scripts/check-windows.sh [BUILD]   (default: build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/check-windows-syntax.sh
scripts/check-windows-wine.sh "${1:-build-windows}"
