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
# The package needs the programs, their man pages and the icons, not the tests and the benchmarks.
rm -f "$build"/varnik_*.deb
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF -DVARNIK_PACKAGE=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target varnik_man_pages varnik_icons
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/varnik_*.deb
