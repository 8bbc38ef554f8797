#!/usr/bin/env bash
# The Windows checks that run on this machine: every translation unit compiled
# for Windows, then the Windows pieces built and their tests run under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/check-windows-syntax.sh
scripts/check-windows-wine.sh
