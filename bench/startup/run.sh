#!/usr/bin/env bash
# Start-up benchmark: milliseconds from process start to the main window mapped (and first drawn)
# for Varnik350, Datalogger and a bare Qt Widgets reference (bench_startup), each started by the
# Xlib stopwatch bench/startup/launch.c on a private Xvfb, with the splash wait set to 0
# (VARNIK_SPLASH_MS=0). The three alternate run by run, so a busy moment of the machine hits all of
# them; two warm-up rounds are not counted. The program runs from a temporary copy of the build's
# executables and data folder, with a temporary XDG_CONFIG_HOME: no user file is read or written.
#
#   bench/startup/run.sh [RUNS]        (default 20 counted rounds)
#   BUILD_DIR=...                      (default build-release, configured and built here as Release)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-release}
runs=${1:-20}
warmup=2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target Datalogger bench_startup >/dev/null

source bench/xvfb.sh
work=$(mktemp -d)
cleanup() {
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

cc -O2 -Wall -Wextra -o "$work/launch" bench/startup/launch.c -lXdamage -lX11
mkdir -p "$work/app" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
cp "$build/Varnik350" "$build/Datalogger" "$work/app/"
cp -r "$build/data" "$work/app/"

start_xvfb "$work"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" VARNIK_SPLASH_MS=0

names=(reference Varnik350 Datalogger)
titles=("Startup reference" "Varnik Measurement system" "Data Acquisition Software ")
programs=("$build/bench/bench_startup" "$work/app/Varnik350" "$work/app/Datalogger")
# A program that cannot connect to the display (Xvfb refuses a connection now and then right after
# another one closed, hence also the pause between runs) is started again; the failures are counted.
failures=0
for round in $(seq $((warmup + runs))); do
  for i in "${!names[@]}"; do
    until result=$("$work/launch" "${titles[$i]}" "${programs[$i]}" 2>>"$work/launch.log"); do
      failures=$((failures + 1))
      [ "$failures" -le 10 ] || { echo "too many failed starts:"; tail "$work/launch.log"; exit 1; }
      sleep 0.2
    done
    if [ "$round" -gt "$warmup" ]; then echo "$result" >>"$work/${names[$i]}.txt"; fi
    sleep 0.1
  done
done

# median, quartiles (nearest rank), min and max of one column of numbers
summary() {
  sort -n | awk '{ v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%7.1f %7.1f %7.1f %7.1f %7.1f", m, v[1], v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)], v[NR] }'
}
median() { summary | awk '{ print $1 }'; }

echo "$runs rounds, ms from process start (Xvfb $DISPLAY, splash wait 0; $failures failed starts repeated)"
printf '%-11s %-9s %7s %7s %7s %7s %7s\n' program event median min q1 q3 max
for name in "${names[@]}"; do
  printf '%-11s %-9s %s\n' "$name" mapped "$(awk '{ print $1 }' "$work/$name.txt" | summary)"
  printf '%-11s %-9s %s\n' "$name" painted "$(awk '{ print $2 }' "$work/$name.txt" | summary)"
done
ref=$(awk '{ print $1 }' "$work/reference.txt" | median)
for name in Varnik350 Datalogger; do
  mine=$(awk '{ print $1 }' "$work/$name.txt" | median)
  perRound=$(paste -d' ' "$work/reference.txt" "$work/$name.txt" | awk '{ print $3 / $1 }' | median)
  awk -v n="$name" -v a="$mine" -v b="$ref" -v r="$perRound" 'BEGIN {
    printf "%-11s mapped: median %.1f ms = %.2f x the reference (median of the per-round ratios %.2f)\n", n, a, a / b, r }'
done
