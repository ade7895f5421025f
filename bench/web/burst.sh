#!/usr/bin/env bash
# The history API under whole-file load, with a Release meter-record recording from meter-sim
# (scan rate 1 s) and a 65,535-row, 16-channel data file beside it:
#   1. the recorder's resident memory before a burst, at its peak, and 5 s after it: 4 clients at
#      once, each 5 times: /api/rows format=json of the whole file, then /api/series of the whole
#      file, then /api/stats of the whole file;
#   2. /api/series from year 0002 to 9999 in 3 points, 4 at once, and meanwhile /api/stats of one
#      day and the page's own series (1,000 points): how long each took;
#   3. a whole-file json download given up by its client after 0.2 s: how long the recorder kept
#      working on it (its CPU time over the next 2 s).
#
#   bench/web/burst.sh [BUILD]      (default build-release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build-release}")
. bench/web/recorder-with-full-file.sh
rss() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' /proc/$recorder/status; }
hwm() { awk '/VmHWM/ {printf "%.1f", $2 / 1024}' /proc/$recorder/status; }
all="from=2026-03-01&to=2026-12-31"
echo "== memory around a burst of whole-file requests (MB resident)"
sleep 2
before=$(rss); echo 5 > /proc/$recorder/clear_refs
clients=()
for client in 1 2 3 4; do
  (for _ in 1 2 3 4 5; do
     curl -s -o /dev/null "$url/api/rows?file=Full.mdb&$all&format=json"
     curl -s -o /dev/null "$url/api/series?file=Full.mdb&points=5000"
     curl -s -o /dev/null "$url/api/stats?file=Full.mdb&$all"
   done) & clients+=($!)
done
wait "${clients[@]}"
peak=$(hwm); sleep 5; after=$(rss)
echo "before $before, peak $peak, 5 s after $after"

echo "== 4 series of years 0002-9999 at once, and ordinary requests meanwhile (seconds)"
long="$url/api/series?file=Full.mdb&start=0002-01-01T00:00:00Z&end=9999-12-30T00:00:00Z&points=3"
clients=()
for _ in 1 2 3 4; do curl -s -o /dev/null -w 'long series: %{time_total} (%{http_code})\n' "$long" & clients+=($!); done
sleep 0.05
curl -s -o /dev/null -w 'stats of a day: %{time_total} (%{http_code})\n' "$url/api/stats?file=Full.mdb&from=2026-03-02&to=2026-03-02"
curl -s -o /dev/null -w 'page series: %{time_total} (%{http_code})\n' "$url/api/series?file=Full.mdb&points=1000"
wait "${clients[@]}"

echo "== a whole-file download given up after 0.2 s"
cpu() { awk '{print $14 + $15}' /proc/$recorder/stat; }
start=$(cpu)
curl -s -o /dev/null --max-time 0.2 "$url/api/rows?file=Full.mdb&$all&format=xlsx" || true
sleep 2
echo "recorder CPU in the 2.2 s since the request: $(( ($(cpu) - start) * 10 )) ms"
