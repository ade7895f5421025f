#!/usr/bin/env bash
# meter-record's resident memory over a long run: meter-sim at the full 9600-baud frame rate,
# 16 channels, a row every second, Release build in build-release. Prints VmRSS every INTERVAL
# seconds (default 60) for MINUTES (default 60) and, at the end, the growth after warm-up (the
# first WARMUP_MINUTES, default 20) as a least-squares slope in kB per hour.
#
#   bench/memory/run.sh [MINUTES] [INTERVAL] [-- more meter-record options]
set -euo pipefail
cd "$(dirname "$0")/../.."
minutes=${1:-60}
interval=${2:-60}
shift 2 || shift $# || true
[ "${1:-}" = "--" ] && shift
more=("$@")

source bench/recorder-start.sh

samples=$run/samples
t0=$(date +%s)
echo "minute  VmRSS_kB  VmHWM_kB  rows"
for ((i = 0; i * interval <= minutes * 60; i++)); do
  [ $i -gt 0 ] && sleep $((t0 + i * interval - $(date +%s)))
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$rec/status")
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$rec/status")
  # Read-only: a plain open would create an empty file before the recorder makes the table.
  rows=$(sqlite3 "file:$run/Bench.mdb?mode=ro" 'select count(*) from DataRecord' 2>/dev/null || echo 0)
  minute=$(awk -v s=$((i * interval)) 'BEGIN {printf "%.1f", s / 60}')
  printf '%6s  %8s  %8s  %s\n' "$minute" "$rss" "$hwm" "$rows" | tee -a "$samples"
done
kill -TERM $rec
wait $rec || true
awk -v warm="${WARMUP_MINUTES:-20}" '$1 >= warm {n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2; if (!min || $2 < min) min = $2; if ($2 > max) max = $2}
     END {if (n > 1) printf "after warm-up (minute %d on): %d samples, VmRSS %d..%d kB, slope %.1f kB per hour\n",
                            warm, n, min, max, 60 * (n * sxy - sx * sy) / (n * sxx - sx * sx)}' "$samples"
echo "last lines of the recorder's output:"
tail -n 3 "$run/record.out"
