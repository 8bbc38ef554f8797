#!/usr/bin/env bash
# Builds the Debian package from the build folder: vantelo_VERSION_ARCH.deb and
# its debugging symbols, vantelo-dbgsym_VERSION_ARCH.ddeb, written to
# PACKAGE_DIR (by default the build folder, BUILD_DIR). Then lintian checks the
# .deb, when it is installed: any error or warning fails; informational tags
# are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=$(realpath "${BUILD_DIR:-build}")
PACKAGE_DIR=$(realpath -m "${PACKAGE_DIR:-$BUILD_DIR}")
mkdir -p "$PACKAGE_DIR"

# A package left by an earlier run is not what this run built.
rm -f "$PACKAGE_DIR"/vantelo_*.deb "$PACKAGE_DIR"/vantelo-dbgsym_*.ddeb
cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$PACKAGE_DIR"

debs=("$PACKAGE_DIR"/vantelo_*.deb)
if [ ! -f "${debs[0]}" ]; then
    echo "package.sh: cpack wrote no vantelo_*.deb to $PACKAGE_DIR" >&2
    exit 1
fi
if command -v lintian > /dev/null; then
    lintian --fail-on error,warning --display-info "${debs[@]}"
else
    echo "package.sh: lintian is not installed: the package is not checked" >&2
fi
