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
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$dir"' EXIT
cp data/* "$dir/"
"$build/meter-sim" --channels 16 --link "$dir/meter" >/dev/null 2>&1 & pids+=($!)
sleep 1
XDG_CONFIG_HOME=$dir "$build/meter-record" --data-dir "$dir" --device "$dir/meter" --channels 16 \
  --scan-rate 1 --data-file Web.mdb --http 0 >"$dir/record.log" 2>&1 & recorder=$!; pids+=($recorder)
for _ in $(seq 100); do grep -q "status page:" "$dir/record.log" && break; sleep 0.1; done
url=$(grep -o 'http://127.0.0.1:[0-9]*' "$dir/record.log" | head -1)
for _ in $(seq 100); do [ -s "$dir/Web.mdb" ] && break; sleep 0.1; done
sleep 2
python3 - "$dir" <<'PY'
import sqlite3, sys, math
d = sys.argv[1]
src = sqlite3.connect("file:%s/Web.mdb?mode=ro" % d, uri=True)
schema = src.execute("select sql from sqlite_master where name='DataRecord'").fetchone()[0]
db = sqlite3.connect(d + "/Full.mdb")
db.execute(schema)
def rows():
    for i in range(65535):
        day, sec = divmod(10 * i, 86400)
        r = ["2026-%02d-%02d" % (3 + (day // 31), 1 + day % 31), "%02d:%02d:%02d" % (sec // 3600, sec // 60 % 60, sec % 60)]
        for c in range(1, 17):
            r += [round(20 + 5 * math.sin(i / 500 + c), 3), "V"]
        yield r
db.executemany("insert into DataRecord values (%s)" % ",".join("?" * 34), rows())
db.commit()
PY
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
