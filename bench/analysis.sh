#!/usr/bin/env bash
# Builds and runs the benchmark of the link analysis alone (release build in build/ unless
# BUILD_DIR says otherwise): 1,000,000 lines of the recordings by default.
#   bench/analysis.sh [lines] [chunk bytes]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
scripts/setup
cmake -S . -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" --target bench_analysis
"$dir/bench/bench_analysis" "$@"
