# shellcheck shell=bash
# Shared by the tests that install the package into a Debian 12 root of their own
# (scripts/test-package.sh, scripts/test-booted-unit.sh); sourced after `work` (a fresh folder)
# and `root` ("$work/root") are set. A script may define stop_own before sourcing this: the exit
# trap calls it first, to end what that script started.
#   KEEP_ROOT=1 keeps the root for a look.

# The exit trap: what the script started ends, everything mounted below the root comes off, then
# the work folder goes (unless something is still mounted there, or KEEP_ROOT is set).
root_cleanup() {
  local status=$?
  declare -F stop_own >/dev/null && stop_own
  for m in var/cache/apt/archives dev/pts proc; do
    mountpoint -q "$root/$m" 2>/dev/null && umount -l "$root/$m"
  done
  if grep -q " $root/" /proc/mounts; then
    echo "still mounted below $root: not removing it"
  elif [ -z "${KEEP_ROOT:-}" ]; then
    rm -rf "$work"
  else
    echo "root kept in $root"
  fi
  exit $status
}
trap root_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "FAIL: $*"
  declare -F on_failure >/dev/null && on_failure
  exit 1
}
step() { echo "== $*"; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# debootstrap --variant=minbase bookworm into the root from MIRROR (default Debian's), with the
# packages given (comma-separated) added.
make_debian_root() {
  debootstrap --variant=minbase ${1:+--include=$1} bookworm "$root" "${MIRROR:-http://deb.debian.org/debian}" \
    >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log"; fail "debootstrap"; }
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}
