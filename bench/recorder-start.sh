# Sourced by the meter-record benchmarks: builds meter-record and meter-sim (Release, build-release),
# makes a data folder in a fresh temporary folder $run (removed at exit) and starts meter-sim at
# the full 9600-baud frame rate (16 channels) and meter-record with the options in the array
# `more`, recording into Bench.mdb a row a second. Sets bin, run, sim and rec (the two pids).
targets=(meter-record meter-sim varnik_data)
source bench/data-folder.sh

"$bin"/meter-sim --channels 16 --link "$run/meter" >"$run/sim.out" &
sim=$!
while [ ! -e "$run/meter" ]; do sleep 0.1; done
"$bin"/meter-record --data-dir "$run" --device "$run/meter" --channels 16 "${more[@]}" >"$run/record.out" &
rec=$!
