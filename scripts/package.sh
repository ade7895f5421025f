#!/usr/bin/env bash
# Builds the Debian package with CPack: a Release build of the program and every tool in its own
# folder (build-package, or BUILD_DIR), with icons and man pages, then the .deb beside them. Its
# dependencies are computed by dpkg-shlibdeps. Prints the package's path as the last line.
# Install it with:  sudo apt install ./build-package/varnik_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")/.."
# Beside the build's packages, what only packaging needs: man pages from --help, dpkg-shlibdeps,
# the ELF check of CPack.
scripts/install-deps.sh --run help2man dpkg-dev file
build=${BUILD_DIR:-build-package}
# One packaging at a time in a folder, as scripts/run.sh builds: a second run waits until the
# first one's package is made.
mkdir -p "$build"
exec 9>"$build/.build-lock"
flock -n 9 || { echo "another build is running in $build; waiting for it" >&2; flock 9; }
# The package needs the programs, their man pages and the icons, not the tests and the benchmarks.
rm -f "$build"/varnik_*.deb
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF -DVARNIK_PACKAGE=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null 9>&-
cmake --build "$build" -j"$(nproc)" --target varnik_man_pages varnik_icons 9>&-
(cd "$build" && cpack -G DEB >/dev/null 9>&-)
case $build in /*) ;; *) build=$PWD/$build ;; esac
ls "$build"/varnik_*.deb
