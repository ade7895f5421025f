#!/usr/bin/env bash
# What the status page costs a recorder: meter-record (Release) with meter-sim at the full
# 9600-baud frame rate, first without --http, then with --http and 10 browsers' worth of
# /api/stream clients connected (curl -N), each run SECONDS long through bench/meter-record/run.sh
# (CPU share of one core, resident peak). Then 1,000 sequential GET /metrics with ApacheBench
# (apache2-utils) against a recorder that is running at line rate; its percentiles are printed.
#
#   bench/web/run.sh [SECONDS] [PORT]        (default 300 s, port 18091 on 127.0.0.1)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-300}
port=${2:-18091}
url=http://127.0.0.1:$port
clients=()
trap 'kill "${clients[@]}" 2>/dev/null || true' EXIT

echo "== without --http"
bench/meter-record/run.sh "$seconds"

echo "== with --http and 10 event-stream clients"
for _ in $(seq 10); do
  curl -sN --retry 60 --retry-connrefused --retry-delay 1 "$url/api/stream" >/dev/null &
  clients+=($!)
done
bench/meter-record/run.sh "$seconds" -- --http "127.0.0.1:$port"
kill "${clients[@]}" 2>/dev/null || true
clients=()

echo "== GET /metrics, 1,000 requests one after another"
bench/meter-record/run.sh 30 -- --http "127.0.0.1:$port" >/dev/null &
recorder=$!
curl -s --retry 60 --retry-connrefused --retry-delay 1 -o /dev/null "$url/metrics"
sleep 3
ab -q -n 1000 -c 1 "$url/metrics" | sed -n '/^Requests per second/p;/^Time per request.*(mean)/p;/^Percentage/,$p'
wait $recorder
