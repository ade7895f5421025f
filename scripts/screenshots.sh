#!/usr/bin/env bash
# Takes the README's screenshots of the angular display (four-gauge page) and the chart display
# with live data from meter-sim (see bench/sandbox.sh), after WAIT seconds of streaming:
# docs/angular-display.png and docs/chart-display.png.
#
#   scripts/screenshots.sh            BUILD_DIR=... (default build-dev)  WAIT=... (default 90 s)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-dev}
cmake --build "$build" -j2 --target Datalogger meter-sim >/dev/null
source bench/xvfb.sh
source bench/sandbox.sh
wrap=()
sandbox_start "$build" "$(mktemp -d)"
sed -i 's/^"Angular Display Channel",[^\r]*/"Angular Display Channel",2/' "$work/app/data/default.txt"
sandbox_run
angular=$(open_display Down '^Angular 2/4 Display$')
xdotool windowmove "$angular" 0 0
chart=$(open_display "" '^System Monitor \(Chart Display\)$')
xdotool windowmove "$chart" 0 0
sleep "${WAIT:-90}"
import -window "$chart" docs/chart-display.png
xdotool windowraise "$angular"
sleep 1
import -window "$angular" docs/angular-display.png
echo "docs/angular-display.png docs/chart-display.png"
