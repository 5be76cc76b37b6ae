#!/usr/bin/env bash
# Builds and runs the receive benchmark of the serial port component (release build in
# build/ unless BUILD_DIR says otherwise). Arguments go to bench_receive:
#   bench/receive.sh [flood seconds] [paced lines] [idle seconds]
# Goals: at least 20 MB/s through OnAfterReceive, 99th-percentile latency under 2 ms at
# 38400 baud, an idle open port at 0% CPU.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
scripts/setup
cmake -S . -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" --target bench_receive
QT_QPA_PLATFORM=offscreen "$dir/bench/bench_receive" "$@"
