# Sourced by the meter-record benchmarks: builds meter-record and meter-sim (Release, build-release),
# makes a data folder in a fresh temporary folder $run (removed at exit) and starts meter-sim at
# the full 9600-baud frame rate (16 channels) and meter-record with the options in the array
# `more`, recording into Bench.mdb a row a second. Sets bin, run, sim and rec (the two pids).
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build build-release -j2 --target meter-record meter-sim varnik_data >/dev/null
bin=$PWD/build-release

run=$(mktemp -d)
trap 'kill $sim $rec 2>/dev/null || true; rm -rf "$run"' EXIT
cp "$bin"/data/{unit2.dat,display.dat,dispchan.dat} "$run"/
printf '"Comm. Port ",1\r\n"Data File Name","Bench.mdb"\r\n"System Scan Rate",1\r\n"Max Record data",65535\r\n"Text Display type",0\r\n"Angular Display Channel",0\r\n"Chart Display Channel",1\r\n"Format 01 and Special Meter",0\r\n' >"$run/default.txt"
export XDG_CONFIG_HOME=$run/config

"$bin"/meter-sim --channels 16 --link "$run/meter" >"$run/sim.out" &
sim=$!
while [ ! -e "$run/meter" ]; do sleep 0.1; done
"$bin"/meter-record --data-dir "$run" --device "$run/meter" --channels 16 "${more[@]}" >"$run/record.out" &
rec=$!
