#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang and libFuzzer (with the address and
# undefined-behaviour sanitizers) in build-fuzz, and runs each for SECONDS (default 300), one after
# another, starting from its committed corpus (tests/fuzz/corpus/TARGET).
#   scripts/fuzz.sh [SECONDS]        FUZZ_TARGETS="frames cells" limits the targets run
# The targets are those of the FUZZ_TARGETS list in tests/fuzz/CMakeLists.txt.
# Inputs found along the way go to build-fuzz/corpus/TARGET; a crashing input is left in
# build-fuzz/crashes/TARGET/ and each run's output in build-fuzz/fuzz-TARGET.log.
# Exit code: non-zero when the build fails or any target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
scripts/install-deps.sh clang libclang-rt-14-dev
build=${FUZZ_BUILD_DIR:-build-fuzz}
all=$(sed -n 's/^set(FUZZ_TARGETS \(.*\))$/\1/p' tests/fuzz/CMakeLists.txt)
read -r -a targets <<<"${FUZZ_TARGETS:-$all}"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNIK_FUZZ=ON >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t" "$build/crashes/$t"
  log="$build/fuzz-$t.log"
  echo "== $t: ${seconds} s"
  if ! "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/crashes/$t/" \
      "$build/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
    echo "$t: FAILED; input in $build/crashes/$t/, output in $log"
    grep -E "ERROR|fuzz check failed|runtime error" "$log" | head -5 || true
    failed+=("$t")
  fi
  grep -E "^#[0-9]+" "$log" | tail -1 || true
  grep -E "stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "crashed: ${failed[*]}"
  exit 1
fi
