#!/usr/bin/env bash
# Builds everything with the address and undefined-behaviour sanitizers and runs every test.
# Installs the packages it needs first. Exit code: non-zero when the build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-test}
generator=()
# Ninja for a new build folder; one made earlier keeps the generator it was made with.
[ -f "$build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DVARNIK_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# The tests start their servers on free ports and work in folders of their own: they run side by side.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
