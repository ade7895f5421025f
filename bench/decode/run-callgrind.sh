#!/usr/bin/env bash
# Builds bench_decode in a Release folder and counts its instructions under callgrind:
# instructions per frame for the plain copy and for receiver plus decoder.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build-release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target bench_decode >/dev/null
out=$(mktemp -d)
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/callgrind.out" \
  "$build/bench/bench_decode"
frames=100000
for dump in "$out"/callgrind.out.*; do
  name=$(sed -n 's/^desc: Trigger: Client Request: //p' "$dump")
  instructions=$(sed -n 's/^totals: //p' "$dump")
  awk -v n="$name" -v i="$instructions" -v f="$frames" \
    'BEGIN { printf "%-16s %12d instructions  %7.1f per frame\n", n, i, i / f }'
done
rm -rf "$out"
