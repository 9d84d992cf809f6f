#!/usr/bin/env bash
# Times a calibration run, a calibration check and the whole calibration in one command
# (calibrate --send --check --save) with the command-line tool against the paced virtual
# sensor and stage, and sets each against its physical limit: the wire time of every request
# and reply at the link's bit rate, the stage's travel at its speed, and the fixed pauses.
#   scripts/time-calibration.sh [BUILD_DIR]
set -euo pipefail
BUILD_DIR="${1:-build}"
Z="$BUILD_DIR/src/cli/zq455"
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
"$Z" simulate > "$work/paths" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q motor "$work/paths" 2>/dev/null && break; sleep 0.1; done
S=$(awk '/^sensor/{print $2}' "$work/paths")
M=$(awk '/^motor/{print $2}' "$work/paths")

now() { date +%s.%N; }
"$Z" motor --motor-port "$M" init >/dev/null
"$Z" motor --motor-port "$M" wait >/dev/null
t0=$(now)
"$Z" --port "$S" calibrate --begin 22000 --dtf "$work/run.dtf" --motor-port "$M" >/dev/null
t1=$(now)
"$Z" compute "$work/run.dtf" --rz 50 --xe 10 --out "$work/table.bin"
"$Z" --port "$S" table send "$work/table.bin"
t2=$(now)
"$Z" --port "$S" verify --motor-port "$M" > "$work/figures" || true
t3=$(now)
cat "$work/figures"
"$Z" --port "$S" --data "$work/data" calibrate --begin 22000 --dtf "$work/whole.dtf" --send --check --save \
    --motor-port "$M" > "$work/whole" || true
t4=$(now)
grep -E "^send:|^Result|^archive|^certificate" "$work/whole"

# Limits. Sensor link 921 600 bit/s, 10 bits a byte; motor link 230 400 bit/s; stage
# 4000 steps/s. A calibration frame: request 7 bytes, reply 1 288; a profile of 1024
# points: request 7, reply 4 105. Motor: a move is 9 request bytes and a 6-byte reply, a
# status poll 1 and 6.
awk -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v t4="$t4" 'BEGIN {
    run = t1 - t0; check = t3 - t2; whole = t4 - t3
    frame = (7 + 1288) * 10 / 921600; profile = (7 + 4105) * 10 / 921600
    move = 15 * 10 / 230400; poll = 7 * 10 / 230400
    run_limit = 1500 * frame + (1760 + 499 * 9) / 4000 + 2 + 500 * (move + poll)
    # The check: home from the run'"'"'s end, forwards to the far end of the range, home again.
    end_steps = 1760 + 499 * 9; last_steps = int((22000 + 50000) * 0.08 + 0.5)
    check_limit = end_steps / 4000 + 2 * last_steps / 4000 + 21 * 2 + 210 * profile + 24 * (move + poll)
    # The whole calibration: the run, the table (160 blocks of 8 205 request and 7 reply
    # bytes) while the stage goes home on its own link, the check from home, the 40 s store.
    send = 160 * (8205 + 7) * 10 / 921600; home = end_steps / 4000
    whole_limit = run_limit + (send > home ? send : home) + (check_limit - home) + 40
    printf "calibration run: %.1f s, limit %.1f s, ratio %.2f\n", run, run_limit, run / run_limit
    printf "calibration check: %.1f s, limit %.1f s, ratio %.2f\n", check, check_limit, check / check_limit
    printf "whole calibration: %.1f s, limit %.1f s, ratio %.3f\n", whole, whole_limit, whole / whole_limit
}'
