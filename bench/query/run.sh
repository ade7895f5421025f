#!/usr/bin/env bash
# Query figures on a 65,535-row 16-channel data file: each part beside its reference, each in its
# own process (peak memory is the process's own). Usage: bench/query/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target bench_query >/dev/null
bench="$build/bench/bench_query"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" make "$work/full.mdb"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for round in $(seq "${ROUNDS:-3}"); do
  echo "round $round"
  "$bench" bare-query "$work/full.mdb" 2>/dev/null
  "$bench" query "$work/full.mdb"
  "$bench" bare-export "$work/full.mdb" "$work/bare.xlsx"
  "$bench" export "$work/full.mdb" "$work/query.xlsx"
  # openpyxl in write-only mode, writing the same cells from the same SELECT.
  /usr/bin/python3 - "$work/full.mdb" "$work/openpyxl.xlsx" <<'PY'
import datetime, resource, sqlite3, sys, time
from openpyxl import Workbook
from openpyxl.cell import WriteOnlyCell
db = sqlite3.connect(f"file:{sys.argv[1]}?mode=ro", uri=True)
cols = ",".join(f'"chan {c}","unit {c}"' for c in range(1, 17))
start, cpu = time.perf_counter(), time.process_time()
wb = Workbook(write_only=True)
ws = wb.create_sheet("Sheet1")
for letter in "ABCDEF":
    ws.column_dimensions[letter].width = 12
cur = db.execute(f'SELECT "date","time",{cols} FROM DataRecord')
ws.append([d[0] for d in cur.description])
for row in cur:
    y, m, d = map(int, row[0].split("-")); hh, mm, ss = map(int, row[1].split(":"))
    dc = WriteOnlyCell(ws, datetime.date(y, m, d)); dc.number_format = "yyyy-mm-dd"
    tc = WriteOnlyCell(ws, datetime.time(hh, mm, ss)); tc.number_format = "hh:mm:ss"
    ws.append([dc, tc, *row[2:]])
wb.save(sys.argv[2])
ms, cpu_ms = (time.perf_counter() - start) * 1000, (time.process_time() - cpu) * 1000
print(f"{'openpyxl':<12} {ms:9.1f} ms wall {cpu_ms:9.1f} ms cpu {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:7.1f} MB")
PY
  "$bench" report "$work/full.mdb" "$work/report.txt"
  "$bench" chart "$work/full.mdb"
done
