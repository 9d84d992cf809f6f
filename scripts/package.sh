#!/usr/bin/env bash
# Builds the Debian package in BUILD_DIR (default build) and checks it: lintian without
# errors, the desktop entry and the AppStream metadata valid.
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR="${1:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" -j 2
(cd "$BUILD_DIR" && cpack -G DEB)
deb=$(ls "$BUILD_DIR"/zq455_*_*.deb | head -n 1)
echo "== lintian $deb"
# Errors fail the build; warnings and infos are printed.
lintian --fail-on error --display-info "$deb" 2>&1 | grep -v "running with root privileges" || true
lintian --fail-on error "$deb" >/dev/null 2>&1
echo "== desktop-file-validate"
desktop-file-validate packaging/org.zq455.setup.desktop
echo "== appstreamcli validate"
appstreamcli validate --no-net "$BUILD_DIR/packaging/org.zq455.setup.metainfo.xml"
echo "package: $deb"
