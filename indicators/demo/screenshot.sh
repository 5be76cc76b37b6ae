#!/usr/bin/env bash
# Runs the indicators demo on a virtual X display and saves a screenshot of it.
#
#   indicators/demo/screenshot.sh BUILD_DIR OUTPUT.png
set -euo pipefail
build=${1:?usage: screenshot.sh BUILD_DIR OUTPUT.png}
out=${2:?usage: screenshot.sh BUILD_DIR OUTPUT.png}
demo="$build/indicators/demo/indicators_demo"
[ -x "$demo" ] || { echo "screenshot.sh: $demo not built" >&2; exit 1; }
out=$(realpath -m "$out")
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" --quit-after 10000 &
  pid=$!
  sleep 3
  import -window root "$2"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
' _ "$demo" "$out"
echo "screenshot: $out"
