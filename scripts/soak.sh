#!/usr/bin/env bash
# Soak run of the setup window measuring against the paced virtual sensor, without "Collect".
#   scripts/soak.sh [MINUTES]        default 10
# First the normal build, for the resident-memory figures (growth after the first minute must
# stay under 5 MB), then the AddressSanitizer build for the same time, so LeakSanitizer
# checks the exit. Takes twice MINUTES; not part of the default test run.
set -euo pipefail
cd "$(dirname "$0")/.."
MINUTES="${1:-10}"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target app_soak
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQ455_SANITIZE=ON -DZQ455_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j 2 --target app_soak
export QT_QPA_PLATFORM=offscreen
echo "== memory, normal build, $MINUTES min"
build/tests/app/app_soak "$MINUTES"
echo "== leaks, AddressSanitizer build, $MINUTES min"
ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  build-asan/tests/app/app_soak "$MINUTES" --leaks-only
echo "soak: 2 passed, 0 failed"
