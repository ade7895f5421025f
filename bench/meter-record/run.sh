#!/usr/bin/env bash
# CPU and memory of meter-record over a run with meter-sim at the full 9600-baud frame rate:
# 16 channels, a row every second. Release build in build-release; the run's folder is removed.
#
#   bench/meter-record/run.sh [SECONDS] [-- more meter-record options]     (default 600 s)
#
# Prints the recorder's CPU time (user and system) as a share of one core over the run, its peak
# and final resident memory (VmHWM, VmRSS), the rows recorded, and the simulator's CPU beside it.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift || true
[ "${1:-}" = "--" ] && shift
more=("$@")

source bench/recorder-start.sh

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
sleep 2 # start-up is not part of the steady state
rec0=$(cpu $rec) sim0=$(cpu $sim) t0=$(date +%s.%N)
sleep "$seconds"
rec1=$(cpu $rec) sim1=$(cpu $sim) t1=$(date +%s.%N)
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$rec/status")
rss=$(awk '/VmRSS/ {print $2}' "/proc/$rec/status")
kill -TERM $rec
wait $rec || true
kill -TERM $sim
wait $sim || true

elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", b - a}')
share() { awk -v a="$1" -v b="$2" -v t="$ticks" -v s="$elapsed" 'BEGIN {printf "%.3f", 100 * (b - a) / t / s}'; }
rows=$(sqlite3 "$run/Bench.mdb" 'select count(*) from DataRecord')
echo "run:            $elapsed s measured (after 2 s of start-up)"
echo "meter-record:   CPU $(share $rec0 $rec1) % of one core; resident peak $((hwm / 1024)) MiB ($hwm kB), at the end $((rss / 1024)) MiB"
echo "meter-sim:      CPU $(share $sim0 $sim1) % of one core"
echo "rows recorded:  $rows"
echo "first lines of the recorder's output:"
head -n 4 "$run/record.out"
tail -n 2 "$run/record.out"
