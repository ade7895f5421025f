#!/usr/bin/env bash
# Screenshots of the query windows under Xvfb for docs/: a 16-channel data file, the 8-channel
# window with a result, statistics and the chart, and the 16-channel window.
# Usage: bench/query/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-release}
source bench/xvfb.sh
work=$(mktemp -d)
trap 'stop_xvfb; rm -rf "$work"' EXIT
"$build/bench/bench_query" make "$work/Data1.mdb"
XVFB_SCREEN=1280x1024x24 start_xvfb "$work"
shoot() {
  "$build/bench/bench_query" show "$work/Data1.mdb" "$1" 2>/dev/null &
  local pid=$!
  sleep 4
  import -window root -crop "$2" +repage "$3"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}
shoot 8 1100x820+0+0 docs/query-window.png
shoot 16 1000x640+0+0 docs/query-window-16.png
