# Sourced by the benchmarks: builds the targets in the array `targets` (Release, build-release) and
# makes a data folder in a fresh temporary folder $run (removed at exit, after killing the pids in
# $sim and $rec) whose default.txt records into Bench.mdb a row a second. Sets bin and run.
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build build-release -j2 --target "${targets[@]}" >/dev/null
bin=$PWD/build-release

run=$(mktemp -d)
trap 'kill ${sim:-} ${rec:-} 2>/dev/null || true; rm -rf "$run"' EXIT
cp "$bin"/data/{unit2.dat,display.dat,dispchan.dat} "$run"/
printf '"Comm. Port ",1\r\n"Data File Name","Bench.mdb"\r\n"System Scan Rate",1\r\n"Max Record data",65535\r\n"Text Display type",0\r\n"Angular Display Channel",0\r\n"Chart Display Channel",1\r\n"Format 01 and Special Meter",0\r\n' >"$run/default.txt"
export XDG_CONFIG_HOME=$run/config
