#!/usr/bin/env bash
# The first thing to run on a fresh Debian 12 desktop: installs the Debian packages that are
# missing (through sudo), configures and builds the setup program, and starts it with the
# virtual sensor and stage, so Connect works without hardware.
#   scripts/run-demo.sh [more options for zq455-setup, e.g. --service]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target zq455-setup
exec "$BUILD_DIR/src/app/zq455-setup" --simulate "$@"
