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
)
# Servers the tests start themselves on 127.0.0.1 (PostgreSQL, mosquitto, Prometheus, a headless
# browser), the tools they check results with, and what the benchmarks measure with.
test_packages=(
  python3-openpyxl imagemagick
  valgrind
  xdotool libx11-dev libxdamage-dev
  postgresql
  mosquitto mosquitto-clients openssl
  prometheus
  chromium chromium-driver python3-selenium apache2-utils
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
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
