#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the tools and the benchmarks need.
# Quick when they are all present already: apt is only called for the missing ones.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite
  qt6-charts-dev libqt6opengl6-dev libxlsxwriter-dev
  sqlite3 libsqlite3-dev python3-openpyxl
  xvfb xauth imagemagick fonts-dejavu-core
  valgrind
  xdotool libx11-dev libxdamage-dev
  qt6-multimedia-dev
  libpq-dev postgresql
  libmicrohttpd-dev libsystemd-dev prometheus
  chromium chromium-driver python3-selenium apache2-utils
)
# Packages that only one script needs (packaging, the installed-package test) come as arguments.
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
