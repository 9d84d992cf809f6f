#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/ and runs each on
# its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     default 20 s, every target
#   FUZZ_RUNS=10000000 scripts/fuzz.sh 0 fuzz_receive_packet   a counted run instead
# New inputs go to a scratch corpus, never into the repository's seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
SECONDS_PER_TARGET="${1:-20}"
shift || true
BUILD_DIR=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ455_FUZZ=ON >/dev/null
cmake --build "$BUILD_DIR" -j 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/corpus/*/; do targets+=("$(basename "$f")"); done
fi
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  limit=(-max_total_time="$SECONDS_PER_TARGET")
  [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS")
  echo "== $t"
  if ! "$BUILD_DIR/fuzz/$t" "${limit[@]}" -artifact_prefix="$scratch/$t-" -print_final_stats=1 \
        "$scratch/$t" "fuzz/corpus/$t" 2>"$scratch/$t.log"; then
    failed=1
    tail -n 60 "$scratch/$t.log"
    mkdir -p fuzz/artifacts && cp "$scratch/$t"-* fuzz/artifacts/ 2>/dev/null || true
  fi
  grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$scratch/$t.log" | tail -n 1 || true
done
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found a fault; inputs are in fuzz/artifacts/"
  exit 1
fi
echo "fuzz: ${#targets[@]} passed, 0 failed"
