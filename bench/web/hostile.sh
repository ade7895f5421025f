#!/usr/bin/env bash
# The status page under hostile clients from one host while the recorder records at line rate
# (bench/meter-record/run.sh: meter-sim at 9600 baud, 16 channels, a row a second, Release):
# 64 and then 200 connections trickling their header a byte every 8 s, then 64 event streams that
# never read. Beside them one client fetches /api/status every 2 s (hostile_clients.py); every row
# due must still be recorded.
#
#   bench/web/hostile.sh [SECONDS] [PORT]        (default 120 s per run, port 18092 on 127.0.0.1)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-120}
port=${2:-18092}
for run in "slow 64" "slow 200" "deaf 64"; do
  echo "== $run"
  bench/meter-record/run.sh "$seconds" -- --http "127.0.0.1:$port" >"/tmp/hostile-recorder.$$" &
  recorder=$!
  until curl -s -o /dev/null "http://127.0.0.1:$port/api/status"; do sleep 0.2; done
  # shellcheck disable=SC2086
  /usr/bin/python3 bench/web/hostile_clients.py "$port" "$((seconds - 5))" $run
  wait $recorder
  grep -E "^(run|meter-record|rows recorded):" "/tmp/hostile-recorder.$$"
done
rm -f "/tmp/hostile-recorder.$$"
