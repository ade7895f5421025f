#!/usr/bin/env bash
# Builds everything with the address and undefined-behaviour sanitizers and runs every test.
# Installs the packages it needs first. Exit code: non-zero when the build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVARNIK_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
