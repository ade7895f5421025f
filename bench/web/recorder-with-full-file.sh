# Sourced by the history benchmarks after `build` is set: a Release meter-record recording from
# meter-sim (16 channels, scan rate 1 s) into Web.mdb in a temporary folder `dir`, its page at
# `url`, process id `recorder`, and beside it Full.mdb: 65,535 rows of 16 channels, one every 10 s
# from 2026-03-01. Everything started is stopped, and the folder removed, on exit.
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
