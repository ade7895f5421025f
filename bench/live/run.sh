#!/usr/bin/env bash
# Live benchmark: the program's CPU use and memory while meter-sim streams 16 channels at the full
# 9600-baud rate, on a private Xvfb: first with the text display alone (on its 16-panel page), then,
# in the same run, with the angular display (four-gauge page) and the chart display opened beside it.
#
# The program (Varnik350) runs from a temporary copy of the build's executable and data folder
# (bench/sandbox.sh), with "Text Display type" 6, "Angular Display Channel" 2 (the four-gauge page),
# a fresh, empty 16-channel data file made by bench_live, and a temporary XDG_CONFIG_HOME whose
# settings file maps the configured port to the simulator: no user file is read or written. The
# script opens the displays through the Monitor menu with the keyboard (xdotool), lets each phase
# run SETTLE seconds, then samples utime+stime of the program, of Xvfb and of meter-sim every 10 s
# for DURATION seconds (from /proc/PID/stat; CPU time divided by wall time, as % of one core), reads
# VmRSS and VmHWM from /proc/PID/status and counts the rows recorded with sqlite3. Screenshots at the
# start and at the end of each measurement go to OUT.
#
#   bench/live/run.sh [DURATION] [OUT]    (default 60 s; OUT default BUILD_DIR/bench/live)
#   BUILD_DIR=... SETTLE=...              (default build-release, configured and built here; 10 s)
#   DISPLAYS=text                         (measures the text display alone, without the second phase)
#   TEXT_SIZE=WxH                         (resizes the text display window, e.g. 1920x1080 with
#                                          XVFB_SCREEN=1920x1080x24; default: the size it opens at)
#   PROFILE=callgrind                     (runs the program under callgrind, collecting only over
#                                          the measurements: OUT/callgrind.out.N; its CPU figures
#                                          then include valgrind's slowdown)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-release}
duration=${1:-60}
out=${2:-$build/bench/live}
settle=${SETTLE:-10}
interval=10
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target Datalogger meter-sim bench_live >/dev/null
mkdir -p "$out"
out=$(cd "$out" && pwd)

source bench/xvfb.sh
source bench/sandbox.sh
wrap=()
if [ "${PROFILE:-}" = callgrind ]; then
  rm -f "$out"/callgrind.out*
  wrap=(valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out")
fi
sandbox_start "$build" "$(mktemp -d)"
defaults="$work/app/data/default.txt"
sed -i 's/^"Text Display type",[^\r]*/"Text Display type",6/; s/^"Angular Display Channel",[^\r]*/"Angular Display Channel",2/' "$defaults"
data_name=$(tr -d '\r' <"$defaults" | sed -n 's/^"Data File Name","\(.*\)".*/\1/p')
scan_rate=$(tr -d '\r' <"$defaults" | sed -n 's/^"System Scan Rate",\([0-9]*\).*/\1/p')
data_file="$work/app/data/$data_name"
"$build/bench/bench_live" "$data_file" 16
sandbox_run

fail() {
  echo "$1"
  import -window root "$out/failed.png" 2>/dev/null && echo "screen: $out/failed.png"
  cat "$work/program.log"
  exit 1
}
ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
user() { awk '{ print $14 }' "/proc/$1/stat"; }
now() { date +%s.%N; }
rows() { sqlite3 -cmd '.timeout 5000' "$data_file" 'SELECT count(*) FROM DataRecord'; }
profile() { [ ${#wrap[@]} -eq 0 ] || callgrind_control "$1" "$program_pid" >/dev/null; }

# measure NAME: samples the program for DURATION seconds and prints the figures of one phase.
measure() {
  local name=$1
  sleep "$settle"
  import -window root "$out/$name-start.png"
  local rows_start t_start p_start u_start x_start s_start p_last t_last elapsed=0 step p t
  local intervals=()
  rows_start=$(rows)
  t_start=$(now)
  p_start=$(cpu "$program_pid") u_start=$(user "$program_pid") x_start=$(cpu "$xvfb_pid") s_start=$(cpu "$sim_pid")
  p_last=$p_start t_last=$t_start
  profile -z
  while [ "$elapsed" -lt "$duration" ]; do
    step=$((duration - elapsed < interval ? duration - elapsed : interval))
    sleep "$step"
    elapsed=$((elapsed + step))
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended during the measurement"
    p=$(cpu "$program_pid") t=$(now)
    intervals+=("$(awk -v c=$((p - p_last)) -v w="$(awk -v a="$t" -v b="$t_last" 'BEGIN { print a - b }')" \
      -v k="$ticks" 'BEGIN { printf "%.2f", c / k / w * 100 }')")
    p_last=$p t_last=$t
  done
  local p_end u_end x_end s_end t_end rows_end full_rows rss hwm wall
  p_end=$(cpu "$program_pid") u_end=$(user "$program_pid") x_end=$(cpu "$xvfb_pid") s_end=$(cpu "$sim_pid")
  t_end=$(now)
  profile -d
  rows_end=$(rows)
  full_rows=$(sqlite3 -cmd '.timeout 5000' "$data_file" 'SELECT count("chan 16") FROM DataRecord')
  import -window root "$out/$name-end.png"
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$program_pid/status")
  hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$program_pid/status")
  wall=$(awk -v a="$t_end" -v b="$t_start" 'BEGIN { print a - b }')
  percent() { awk -v c="$1" -v w="$wall" -v k="$ticks" 'BEGIN { printf "%.2f", c / k / w * 100 }'; }
  echo "== $name"
  printf 'measured over %.1f s after %s s of settling; load average at the end: %s\n' "$wall" "$settle" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "program CPU:   $(percent $((p_end - p_start))) % of one core (user $(percent $((u_end - u_start))) %;" \
    "per ${interval}-s interval: ${intervals[*]})"
  echo "Xvfb CPU:      $(percent $((x_end - x_start))) %"
  echo "meter-sim CPU: $(percent $((s_end - s_start))) %"
  awk -v r="$rss" -v h="$hwm" 'BEGIN { printf "program memory: VmRSS %.1f MB, VmHWM %.1f MB\n", r / 1024, h / 1024 }'
  echo "rows recorded: $((rows_end - rows_start)) during the measurement (scan rate ${scan_rate} s), $rows_end in all, $full_rows with channel 16"
  echo "screenshots:   $out/$name-start.png $out/$name-end.png"
}

# Monitor menu: "Chart Display", "Angular  Display", "Text Display" (Up wraps round to the last).
text=$(open_display Up '^Text Display$') || fail "Monitor > Text Display did not open"
if [ -n "${TEXT_SIZE:-}" ]; then
  xdotool windowmove "$text" 0 0 windowsize --sync "$text" "${TEXT_SIZE%x*}" "${TEXT_SIZE#*x}"
fi
size=$(xwininfo -id "$text" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
echo "16 channels from meter-sim at 9600 baud, text display ($size) on the 16-panel page, Xvfb $DISPLAY"
measure text
if [ "${DISPLAYS:-all}" != text ]; then
  open_display Down '^Angular 2/4 Display$' >/dev/null || fail "Monitor > Angular Display did not open"
  open_display "" '^System Monitor \(Chart Display\)$' >/dev/null || fail "Monitor > Chart Display did not open"
  measure all-three
fi
[ ${#wrap[@]} -eq 0 ] || echo "profile:       $(ls "$out"/callgrind.out.*)"
