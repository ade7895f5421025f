#!/usr/bin/env bash
# Builds everything with the address and undefined-behaviour sanitizers and runs every test.
# Installs the packages it needs first. Exit code: non-zero when the build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-test}
# One build at a time in a folder (two at once can take all the memory): a second run waits for
# the first one's configure and build, as scripts/run.sh does; the tests themselves run side by side.
mkdir -p "$build"
exec 9>"$build/.build-lock"
flock -n 9 || { echo "another build is running in $build; waiting for it"; flock 9; }
generator=()
# Ninja for a new build folder; one made earlier keeps the generator it was made with.
[ -f "$build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DVARNIK_SANITIZE=ON >/dev/null 9>&-
cmake --build "$build" -j"$(nproc)" 9>&-
exec 9>&-
cd "$build"
# The tests start their servers on free ports and work in folders of their own: they run side by side.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
