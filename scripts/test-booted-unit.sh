#!/usr/bin/env bash
# The recorder's unit under a booted systemd. Builds the package (scripts/package.sh; or takes the
# .deb given), makes a Debian 12 root with systemd (debootstrap), installs the package there and
# boots it as a container (systemd-nspawn -b, with cgroup v2, so that the unit's device rules are
# enforced as on a real machine). Then, in the booted container:
#   - meter-record@ttyS9 is started with no /dev/ttyS9; the device node of that serial port appears
#     later: the unit's device rules let the recorder at it (no UART answers behind that node here,
#     so the open fails for that reason, never with "Operation not permitted"). A built-in port's
#     class is always known to the kernel; a USB adapter's (ttyUSB) only once its driver is loaded.
#   - meter-record@ttyVSIM0 (allowed pseudo-terminals by a drop-in, as the meter simulator is one)
#     is enabled and started before the simulator exists; once meter-sim links /dev/ttyVSIM0 the
#     recorder opens it and records rows;
#   - apt remove stops both recorders and removes the unit's wants links; purge leaves the data.
# Root only: anyone else gets exit code 77 (skipped), as does a machine where the container does not
# boot. Takes about 4 minutes (debootstrap and apt from the mirror).
#
#   scripts/test-booted-unit.sh [PACKAGE.deb]
#   MIRROR=URL (default http://deb.debian.org/debian)   KEEP_ROOT=1 keeps the root for a look
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the booted-unit test needs root (systemd-nspawn, debootstrap)"
  exit 77
fi
scripts/install-deps.sh debootstrap systemd-container

deb=${1:-}
if [ -z "$deb" ]; then
  deb=$(scripts/package.sh | tee >(cat >&2) | tail -n1)
fi
deb=$(readlink -f "$deb")

work=$(mktemp -d /var/tmp/varnik-booted-unit.XXXXXX)
root="$work/root"
machine=varnik-unit-$$
nspawn_pid=
leader=
stop_own() {
  [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null || return 0
  kill -TERM "$nspawn_pid" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$nspawn_pid" 2>/dev/null || return 0; sleep 0.2; done
  kill -KILL "$nspawn_pid" 2>/dev/null || true
}
on_failure() {
  [ -n "$leader" ] && in_box journalctl --no-pager -n 60 -u 'meter-record@*' 2>/dev/null
  return 0
}
# shellcheck source=scripts/debian-root.sh
source scripts/debian-root.sh
skip() {
  echo "SKIPPED: $*"
  exit 77
}
# A command inside the booted container, in all of its namespaces.
in_box() { nsenter -t "$leader" -a /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
# Waits up to $1 seconds for the command to succeed.
wait_for() {
  local limit=$1
  shift
  for _ in $(seq 1 $((limit * 5))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
journal_has() { in_box journalctl --no-pager -o cat -u "$1" | grep -q -- "$2"; }
rows() { sqlite3 "$root/var/lib/private/meter-record/$1/Data1.mdb" 'select count(*) from DataRecord' 2>/dev/null || echo 0; }
rows_at_least() { [ "$(rows "$1")" -ge "$2" ]; }
wants_links() { find "$root/etc/systemd/system" -name 'meter-record@*.service' | sort; }

step "Debian 12 root with systemd (debootstrap --variant=minbase bookworm)"
make_debian_root systemd,systemd-sysv,dbus
echo "$machine" >"$root/etc/hostname"
cp "$deb" "$root/tmp/"
package_file=/tmp/$(basename "$deb")
mount -t proc proc "$root/proc"
in_root apt-get update -q >"$work/apt.log" 2>&1 || { umount "$root/proc"; tail "$work/apt.log"; fail "apt-get update"; }
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package_file" >>"$work/apt.log" 2>&1 ||
  { umount "$root/proc"; tail -20 "$work/apt.log"; fail "apt install"; }
umount "$root/proc"
# The simulator's device stands for a serial port: pseudo-terminals allowed for that instance only.
mkdir -p "$root/etc/systemd/system/meter-record@ttyVSIM0.service.d"
printf '[Service]\nDeviceAllow=char-pts rw\n' >"$root/etc/systemd/system/meter-record@ttyVSIM0.service.d/test.conf"
echo 'METER_RECORD_OPTIONS="--scan-rate 1"' >"$root/etc/default/meter-record"

step "boot it (systemd-nspawn -b, cgroup v2, device rules enforced)"
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn -q -b -D "$root" -M "$machine" --keep-unit \
  --register=no --console=passive --system-call-filter=bpf --capability=CAP_MKNOD >"$work/boot.log" 2>&1 &
nspawn_pid=$!
for _ in $(seq 1 150); do
  kill -0 "$nspawn_pid" 2>/dev/null || break
  # The container's PID 1 is a child of systemd-nspawn.
  for pid in $(pgrep -P "$nspawn_pid" || true); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = systemd ] && leader=$pid
  done
  [ -n "$leader" ] && break
  sleep 0.2
done
[ -n "$leader" ] || { tail -20 "$work/boot.log"; skip "the container did not boot here"; }
wait_for 60 in_box systemctl is-system-running --wait || true
state=$(in_box systemctl is-system-running || true)
echo "system state: $state"
[ -n "$state" ] || { tail -20 "$work/boot.log"; skip "systemd in the container does not answer"; }

step "a serial port's device node appears after meter-record@ttyS9 started"
in_box systemctl start meter-record@ttyS9
wait_for 20 journal_has meter-record@ttyS9 "trying again" ||
  fail "meter-record@ttyS9 does not say it waits for /dev/ttyS9"
in_box mknod -m 660 /dev/ttyS9 c 4 73
in_box chgrp dialout /dev/ttyS9
# Its next try (every 5 s) meets the device: whatever it says, the unit's rules let it through.
sleep 12
in_box journalctl --no-pager -o cat -u meter-record@ttyS9 | tail -n 3
journal_has meter-record@ttyS9 "Operation not permitted" &&
  fail "the unit refuses a device that appeared after it started"
in_box systemctl is-active -q meter-record@ttyS9 || fail "meter-record@ttyS9 stopped"

step "meter-record@ttyVSIM0, enabled before its device exists, records once meter-sim appears"
in_box systemctl enable --now meter-record@ttyVSIM0 >/dev/null 2>&1 || fail "enable --now meter-record@ttyVSIM0"
sleep 3
in_box systemd-run --unit=meter-sim -p Group=dialout -p UMask=0007 \
  /usr/bin/meter-sim --link /dev/ttyVSIM0 --channels 8 >/dev/null 2>&1 || fail "meter-sim"
wait_for 20 in_box test -e /dev/ttyVSIM0 || fail "meter-sim made no /dev/ttyVSIM0"
# shellcheck disable=SC2016 # expanded in the container
in_box sh -c 'chgrp dialout "$(readlink -f /dev/ttyVSIM0)"; chmod 660 "$(readlink -f /dev/ttyVSIM0)"'
wait_for 40 rows_at_least ttyVSIM0 3 || fail "no rows recorded from the late device ($(rows ttyVSIM0))"
echo "rows recorded from the late device: $(rows ttyVSIM0)"
[ -n "$(wants_links)" ] || fail "enable made no wants link"

step "apt remove stops every recorder and removes their links"
in_box env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q varnik >>"$work/apt.log" 2>&1 || fail "apt remove"
for unit in meter-record@ttyS9 meter-record@ttyVSIM0; do
  if in_box systemctl is-active -q "$unit"; then fail "$unit still runs after apt remove"; fi
done
if in_box pgrep -x meter-record >/dev/null; then fail "a meter-record process is left"; fi
[ -z "$(wants_links)" ] || fail "links left after remove: $(wants_links)"
in_box systemctl stop meter-sim 2>/dev/null || true

step "apt purge keeps the recordings and the options"
before=$(rows ttyVSIM0)
in_box env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q varnik >>"$work/apt.log" 2>&1 || fail "apt purge"
[ "$(rows ttyVSIM0)" = "$before" ] || fail "the recorder's data file changed or went away"
[ -f "$root/etc/default/meter-record" ] || fail "purge removed /etc/default/meter-record"
[ -z "$(wants_links)" ] || fail "links left after purge: $(wants_links)"

echo
echo "PASS: booted-unit test ($before rows recorded from a device that appeared after the unit started)"
