#!/usr/bin/env bash
# Builds and runs the benchmark of the channel text pane (release build in build/ unless
# BUILD_DIR says otherwise). Arguments go to bench_memopane:
#   bench/memopane.sh [recordings folder] [megabytes]
# Goals: at least 40 MB/s per channel with both channels flooded, at most 0.03 CPU s per MB,
# resident growth at most 3 bytes per byte of text kept, every line painted within a 16 ms
# frame of its CR, a running timer kept on time during the flood.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
scripts/setup
cmake -S . -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" --target bench_memopane
QT_QPA_PLATFORM=offscreen "$dir/bench/bench_memopane" "$@"
