#!/usr/bin/env bash
# Installs the Debian packages this project needs. Quick when they are all present already: apt is
# only called for the missing ones.
# Usage: scripts/install-deps.sh [--run] [PACKAGE...]
#   --run       only what building and running the program and its tools needs (scripts/run.sh,
#               scripts/package.sh): no server, broker, browser, Prometheus or valgrind, and
#               nothing that starts a service.
#   (default)   that, plus what the tests and the benchmarks need (scripts/test.sh, CI).
#   PACKAGE...  packages that only one script needs (packaging, the installed-package test).
set -euo pipefail
run_packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite
  qt6-charts-dev libqt6opengl6-dev libxlsxwriter-dev
  sqlite3 libsqlite3-dev
  xvfb xauth fonts-dejavu-core
  qt6-multimedia-dev
  libpq-dev libmosquitto-dev libmicrohttpd-dev libsystemd-dev
  libsigrok-dev libsigrok4
)
# Servers the tests start themselves on 127.0.0.1 (PostgreSQL, mosquitto, Prometheus, a headless
# browser), the tools they check results with (sigrok-cli: a real multimeter decoder), and what the
# benchmarks measure with.
test_packages=(
  python3-openpyxl imagemagick
  valgrind
  xdotool libx11-dev libxdamage-dev
  postgresql
  mosquitto mosquitto-clients openssl
  prometheus
  chromium chromium-driver python3-selenium apache2-utils
  sigrok-cli libsigrok4 libsigrok-dev
)
packages=("${run_packages[@]}")
if [ "${1:-}" = "--run" ]; then
  shift
else
  packages+=("${test_packages[@]}")
fi
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
# Says what is missing and how root installs it, when this script cannot.
cannot_install() {
  echo "install-deps.sh: $1. Missing packages: ${missing[*]}" >&2
  echo "Install them as root, then run this again:  apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
}
# sudo drops the environment: apt's setting goes on the command line (env).
as_root=(env)
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || cannot_install "not run as root, and sudo is not installed"
  as_root=(sudo env)
fi
"${as_root[@]}" DEBIAN_FRONTEND=noninteractive apt-get update -q || cannot_install "apt-get update did not succeed"
"${as_root[@]}" DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" ||
  cannot_install "apt-get install did not succeed"
