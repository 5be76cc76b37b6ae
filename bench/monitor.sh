#!/usr/bin/env bash
# Builds and runs the benchmark of the main window (release build in build/ unless
# BUILD_DIR says otherwise). Arguments go to bench_monitor:
#   bench/monitor.sh [recordings folder] [seconds]
# Goal: while both channels receive as fast as the pseudo-terminals carry the bytes, every
# line is shown and the 2000 ms status refresh stays within 50 ms of its period.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
scripts/setup
cmake -S . -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" --target bench_monitor
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$dir/bench/bench_monitor" "$@"
