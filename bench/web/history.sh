#!/usr/bin/env bash
# The history API on a full data file (65,535 rows of 16 channels), with a Release meter-record
# recording from meter-sim (scan rate 1 s) in a temporary folder:
#   1. /api/series for the whole file against `sqlite3 FILE 'select * from DataRecord' > /dev/null`,
#      5 runs each, in this one run (median);
#   2. the page's whole-file chart in headless Chromium: click to drawn;
#   3. the recorder's resident peak before and after a whole-file workbook download;
#   4. 4 clients downloading the whole file (workbook, CSV) over and over for SECONDS while it
#      records: downloads served, 503s, and rows recorded against seconds passed.
#
#   bench/web/history.sh [SECONDS] [BUILD]      (default 60 s, build-release)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build=$(realpath "${2:-build-release}")
. bench/web/recorder-with-full-file.sh
channels=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "== whole file: sqlite3 select * vs /api/series (median of 5, seconds)"
for _ in 1 2 3 4 5; do /usr/bin/time -f %e sqlite3 "$dir/Full.mdb" 'select * from DataRecord' 2>&1 >/dev/null; done | median | sed 's/^/sqlite3 select *:  /'
for _ in 1 2 3 4 5; do curl -s -o /dev/null -w '%{time_total}\n' "$url/api/series?file=Full.mdb&channels=$channels"; done | median | sed 's/^/api\/series:        /'

echo "== the page: whole file charted in headless Chromium (16 channels)"
/usr/bin/python3 - "$url/history?file=Full.mdb" <<'PY'
import sys, time, tempfile
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait
o = webdriver.ChromeOptions(); o.binary_location = "/usr/bin/chromium"
for f in ("--headless", "--no-sandbox", "--disable-gpu", "--window-size=1366,900", "--user-data-dir=" + tempfile.mkdtemp()):
    o.add_argument(f)
d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
d.get(sys.argv[1])
w = WebDriverWait(d, 30, poll_frequency=0.02)
w.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#chart canvas") and d.find_element(By.ID, "state").text == "")
for box in d.find_elements(By.CSS_SELECTOR, "#channels_choice input:not(:checked)"):
    box.click()
w.until(lambda d: d.find_element(By.ID, "state").text == "")
started = time.monotonic()
d.find_element(By.CSS_SELECTOR, ".presets button[data-hours='0']").click()
w.until(lambda d: d.find_element(By.ID, "state").text == "Loading…")
w.until(lambda d: d.find_element(By.ID, "state").text == "")
print("click to drawn: %.2f s" % (time.monotonic() - started))
d.quit()
PY

echo "== recorder memory around a whole-file workbook download"
hwm() { awk '/VmHWM/ {print $2}' /proc/$recorder/status; }
rss() { awk '/VmRSS/ {print $2}' /proc/$recorder/status; }
echo 5 > /proc/$recorder/clear_refs  # the peak starts again from the resident size
echo "before: resident $(rss) KiB, peak $(hwm) KiB"
curl -s -o "$dir/full.xlsx" -w 'workbook: %{size_download} bytes in %{time_total} s\n' \
  "$url/api/rows?file=Full.mdb&from=2026-03-01&to=2026-12-31&channels=$channels&format=xlsx"
echo "after:  resident $(rss) KiB, peak $(hwm) KiB"

echo "== 4 clients downloading the whole file for $seconds s while recording"
rows() { sqlite3 "file:$dir/Web.mdb?mode=ro" 'select count(*) from DataRecord'; }
before=$(rows); start=$(date +%s); clients=()
for i in 1 2 3 4; do
  format=$([ $((i % 2)) = 0 ] && echo xlsx || echo csv)
  ( end=$((start + seconds)); while [ "$(date +%s)" -lt $end ]; do
      curl -s -o /dev/null -w "%{http_code}\n" "$url/api/rows?file=Full.mdb&from=2026-03-01&to=2026-12-31&channels=$channels&format=$format"
    done > "$dir/client$i" ) & clients+=($!)
done
wait "${clients[@]}"
sleep 1
passed=$(( $(date +%s) - start )); after=$(rows)
echo "downloads served (200): $(cat "$dir"/client* | grep -c 200), refused busy (503): $(cat "$dir"/client* | grep -c 503)"
echo "rows recorded: $((after - before)) in $passed s"
echo "largest step between consecutive rows in that time (s):"
sqlite3 "file:$dir/Web.mdb?mode=ro" "select max(d) from (select (julianday(date||' '||time) - julianday(lag(date||' '||time) over (order by rowid)))*86400 as d from DataRecord where rowid > $before)"
