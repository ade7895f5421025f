#!/usr/bin/env bash
# The installed-package test. Builds the package (scripts/package.sh; or takes the .deb given),
# makes a fresh Debian 12 root with debootstrap (minbase), installs the package there with apt
# and checks, as an ordinary user of that root:
#   - Varnik350 started from /usr/bin reaches its main window on a virtual display (timed from
#     the start, with the usual 5 s splash) and has made its data folder, the shipped defaults and
#     its data file under ~/.local/share/Varnik350/data;
#   - meter-sim and meter-record record rows into that data file for a few seconds;
#   - meter-record started as its systemd unit starts it (a user of its own in the group dialout,
#     its data folder under /var/lib/meter-record) records rows too;
# that the README's linked pages are installed where its links lead and the man pages name them;
# then that reinstalling (the upgrade path), removing and purging the package leave every data file
# in place and unchanged, that removing disables every enabled recorder (purge: links left to one),
# and that nothing was ever written into /usr at run time. The recorder under a booted systemd:
# scripts/test-booted-unit.sh.
# Prints the figures (installed size, apt install time, start to main window). Takes about
# 3 minutes (about 1.5 of them debootstrap); needs root (uses sudo otherwise) and the mirror.
#
#   scripts/test-package.sh [PACKAGE.deb]
#   MIRROR=URL (default http://deb.debian.org/debian)   KEEP_ROOT=1 keeps the root for a look
#   SCREENSHOT=FILE.png also takes screenshots of the installed program's main window (FILE.png)
#                       and of its System Info window (FILE-sysinfo.png)
#   APT_CACHE=DIR keeps the downloaded packages between runs (then apt install does not download)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=MIRROR,KEEP_ROOT,SCREENSHOT,APT_CACHE "$0" "$@"
fi
scripts/install-deps.sh debootstrap

deb=${1:-}
if [ -z "$deb" ]; then
  # The build's output is shown as it comes through the inherited standard error, never by
  # reopening /dev/stderr: reopening a log file that holds this run's output would truncate it.
  deb=$(scripts/package.sh | tee >(cat >&2) | tail -n1)
fi
deb=$(readlink -f "$deb")

work=$(mktemp -d /var/tmp/varnik-package-test.XXXXXX)
root="$work/root"
bg_pids=()
# shellcheck source=bench/xvfb.sh
source bench/xvfb.sh
stop_own() {
  for pid in "${bg_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_xvfb
}
# shellcheck source=scripts/debian-root.sh
source scripts/debian-root.sh
now_ms() { date +%s%3N; }
# As the ordinary user "tester" (numeric ids: the names live in the root's /etc/passwd); run
# through exec, so a background job's process id is the program's own.
as_tester() {
  exec chroot --userspec="$tester_uid:$tester_gid" --groups="$dialout_gid" "$root" /usr/bin/env -i \
    HOME=/home/tester USER=tester LOGNAME=tester PATH=/usr/bin:/bin LANG=C.UTF-8 \
    XDG_RUNTIME_DIR=/tmp/runtime-tester ${DISPLAY:+DISPLAY=$DISPLAY} "$@"
}
# The checksums of every file below the given folders of the root (those that exist), one a line.
sums() {
  local dirs=()
  for d in "$@"; do [ -d "$root/$d" ] && dirs+=("$d"); done
  (cd "$root" && find "${dirs[@]}" -type f -print0 | sort -z | xargs -0 sha256sum)
}
seconds() { awk -v ms="$1" 'BEGIN { printf "%6.1f", ms / 1000 }'; }
rows() { sqlite3 "$1" 'select count(*) from DataRecord'; }

step "fresh Debian 12 root (debootstrap --variant=minbase bookworm)"
t0=$(now_ms)
make_debian_root ""
debootstrap_ms=$(($(now_ms) - t0))
mount -t proc proc "$root/proc"
# Pseudo-terminals of the root's own (meter-sim makes one per run).
mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$root/dev/pts"
ln -sf pts/ptmx "$root/dev/ptmx"
if [ -n "${APT_CACHE:-}" ]; then
  mkdir -p "$APT_CACHE"
  mount --bind "$APT_CACHE" "$root/var/cache/apt/archives"
fi
cp "$deb" "$root/tmp/"
package_file=/tmp/$(basename "$deb")

step "apt install ./$(basename "$deb")"
in_root apt-get update -q >"$work/apt-update.log" 2>&1 || { tail "$work/apt-update.log"; fail "apt-get update"; }
in_root dpkg-query -W 'libqt6core6*' >/dev/null 2>&1 && fail "Qt is installed before the package"
disk_used() { du -skx --exclude="$root/var/cache/apt" "$root" | cut -f1; }
used_before=$(disk_used)
t0=$(now_ms)
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package_file" >"$work/apt-install.log" 2>&1 ||
  { tail -20 "$work/apt-install.log"; fail "apt install"; }
apt_ms=$(($(now_ms) - t0))
used_after=$(disk_used)
installed_kib=$(in_root dpkg-query -W -f='${Installed-Size}' varnik)
new_packages=$(grep -c '^Setting up ' "$work/apt-install.log" || true)
downloaded=$(sed -n 's/^Fetched \(.*\) in .*/\1/p' "$work/apt-install.log")
for program in Varnik350 Datalogger meter-sim meter-decode; do
  [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program is missing"
done

step "the documentation: every page the README links, and the man pages name it"
doc=$root/usr/share/doc/varnik
for link in $(grep -o '](\(docs/\|LICENSE\)[^)#]*' README.md | cut -c3- | sort -u); do
  [ -f "$doc/$link" ] || fail "the README's link $link does not resolve in /usr/share/doc/varnik"
done
grep -q 'LoadCredential=' "$doc/docs/meter-record.md" || fail "the token set-up is not shipped"
grep -q '^License: GPL-3+' "$doc/copyright" && grep -q '^License: Expat' "$doc/copyright" ||
  fail "the copyright file does not name the licences (GPL-3.0-or-later, the chart library's MIT)"
for program in Datalogger meter-record meter-query meter-decode meter-sim meter-forward; do
  page=$root/usr/share/man/man1/$program.1.gz
  [ -f "$page" ] || continue
  zcat "$page" | grep -q 'usr/share/doc/varnik' || fail "man $program names no installed document"
done
touch "$work/installed.stamp"
sleep 1 # file times have whole-second steps on some file systems

in_root useradd --create-home --shell /bin/bash --groups dialout tester
tester_uid=$(awk -F: '$1 == "tester" { print $3 }' "$root/etc/passwd")
tester_gid=$(awk -F: '$1 == "tester" { print $4 }' "$root/etc/passwd")
dialout_gid=$(awk -F: '$1 == "dialout" { print $3 }' "$root/etc/group")
user_data=home/tester/.local/share/Varnik350/data

step "Varnik350 from /usr/bin to its main window, as user tester"
start_xvfb "$work"
cc -O2 -o "$work/launch" bench/startup/launch.c -lXdamage -lX11
# The program connects to the Xvfb of this script through its abstract socket (same network).
window_ms=$("$work/launch" -t 60000 "Varnik Measurement system" \
  chroot --userspec="$tester_uid:$tester_gid" --groups="$dialout_gid" "$root" /usr/bin/env -i \
  HOME=/home/tester USER=tester PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY" \
  XDG_RUNTIME_DIR=/tmp/runtime-tester /usr/bin/Varnik350 2>"$work/launch.log" | cut -d' ' -f1) ||
  { cat "$work/launch.log"; fail "the main window did not appear"; }
for f in unit2.dat display.dat default.txt dispchan.dat Data1.mdb; do
  [ -f "$root/$user_data/$f" ] || fail "$user_data/$f was not made"
done
[ "$(stat -c %u "$root/$user_data/Data1.mdb")" = "$tester_uid" ] || fail "the data file does not belong to tester"
[ "$(rows "$root/$user_data/Data1.mdb")" = 0 ] || fail "a new data file with rows"
version=$( (as_tester /usr/bin/Varnik350 --version))
grep -qx "Data folder: /home/tester/.local/share/Varnik350/data" <<<"$version" ||
  fail "--version does not name the per-user folder: $version"

if [ -n "${SCREENSHOT:-}" ]; then
  step "screenshot into $SCREENSHOT"
  (as_tester VARNIK_SPLASH_MS=0 /usr/bin/Varnik350) &
  bg_pids+=($!)
  window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Varnik Measurement system$" | head -n1)
  sleep 1 # the first paint
  import -window "$window" "$SCREENSHOT"
  # About > System Info names the data folder in use.
  xdotool windowfocus --sync "$window" key alt+h Return
  about=$(timeout 30 xdotool search --sync --onlyvisible --name "^About Varnik350.exe$" | head -n1)
  xdotool windowfocus --sync "$about" key alt+s
  info=$(timeout 30 xdotool search --sync --onlyvisible --name "^System Information$" | head -n1)
  sleep 1
  import -window "$info" "${SCREENSHOT%.png}-sysinfo.png"
  kill "${bg_pids[-1]}"
  wait "${bg_pids[-1]}" 2>/dev/null || true
fi

if [ -x "$root/usr/bin/meter-record" ]; then
  step "meter-sim and meter-record, as user tester"
  (as_tester /bin/sh -c '
    meter-sim --link /tmp/meter --channels 8 >/tmp/sim.out &
    sim=$!
    i=0; while [ ! -e /tmp/meter ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    timeout --preserve-status -s TERM 6 meter-record --device /tmp/meter --scan-rate 1
    status=$?
    kill $sim; wait $sim
    exit $status') >"$work/record.log" 2>&1 || { cat "$work/record.log"; fail "meter-record as tester"; }
  tester_rows=$(rows "$root/$user_data/Data1.mdb")
  [ "$tester_rows" -ge 3 ] || { cat "$work/record.log"; fail "meter-record wrote $tester_rows rows in 6 s"; }

  step "meter-record as its systemd unit runs it (user of its own, group dialout)"
  unit=$(find "$root/usr/lib/systemd/system" "$root/lib/systemd/system" -name 'meter-record@.service' 2>/dev/null | head -n1)
  [ -n "$unit" ] || fail "no systemd unit meter-record@.service"
  if ! grep -qx 'DynamicUser=yes' "$unit" || ! grep -qx 'SupplementaryGroups=dialout' "$unit"; then
    fail "the unit does not run as an unprivileged user in the group dialout"
  fi
  # systemd's part, done by hand: %S, %i and %I, the state folder, the options file, and the status
  # page's variable, unset here (systemd drops an unset $VAR word).
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit" |
    sed -e 's|%S|/var/lib|g' -e 's|%[iI]|ttyVSIM0|g' -e 's|\$METER_RECORD_OPTIONS|--scan-rate 1|' -e 's| *\$METER_RECORD_HTTP||')
  in_root useradd --system --no-create-home --groups dialout recorder-test
  in_root install -d -o recorder-test -m 700 /var/lib/meter-record /var/lib/meter-record/ttyVSIM0
  in_root /bin/sh -c 'meter-sim --link /dev/ttyVSIM0 --channels 16 >/tmp/sim2.out &
    i=0; while [ ! -e /dev/ttyVSIM0 ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    # A serial device belongs to the group dialout.
    chgrp dialout "$(readlink -f /dev/ttyVSIM0)" && chmod 660 "$(readlink -f /dev/ttyVSIM0)"'
  sim_pid=$(pgrep -n -f 'meter-sim --link /dev/ttyVSIM0')
  bg_pids+=("$sim_pid")
  rid=$(awk -F: '$1 == "recorder-test" { print $3 }' "$root/etc/passwd")
  nogroup_gid=$(awk -F: '$1 == "nogroup" { print $3 }' "$root/etc/group")
  # shellcheck disable=SC2086 # the command line as systemd splits it
  chroot --userspec="$rid:$nogroup_gid" --groups="$dialout_gid" "$root" /usr/bin/env -i \
    HOME=/var/lib/meter-record/ttyVSIM0 PATH=/usr/bin:/bin \
    timeout --preserve-status -s TERM 5 $exec_start >"$work/unit.log" 2>&1 ||
    { cat "$work/unit.log"; fail "the unit's ExecStart ($exec_start)"; }
  kill "$sim_pid"
  unit_rows=$(rows "$root/var/lib/meter-record/ttyVSIM0/Data1.mdb")
  [ "$unit_rows" -ge 2 ] || { cat "$work/unit.log"; fail "the unit's recorder wrote $unit_rows rows in 5 s"; }
else
  step "SKIPPED: this package has no meter-record"
fi

step "nothing written into /usr at run time"
written=$(find "$root/usr" -newer "$work/installed.stamp" | head)
[ -z "$written" ] || fail "written into /usr: $written"

step "reinstall (the upgrade path), remove and purge leave the data files, remove disables the recorders"
sums "$user_data" var/lib/meter-record >"$work/before.sums"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$package_file" >>"$work/apt-install.log" 2>&1 ||
  fail "reinstall"
# Two recorders enabled as `systemctl enable` does it (no systemd runs in this root); a link left
# to a third, as if made by hand while the package was removed.
wants=$root/etc/systemd/system/multi-user.target.wants
mkdir -p "$wants"
for device in ttyUSB0 ttyACM1; do ln -sf /lib/systemd/system/meter-record@.service "$wants/meter-record@$device.service"; done
[ -f "$root/usr/share/varnik/data/default.txt" ] || fail "reinstall lost the shipped defaults"
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q varnik >>"$work/apt-install.log" 2>&1 || fail "remove"
left=$(find "$root/etc/systemd/system" -name 'meter-record@*')
[ -z "$left" ] || fail "remove left the recorders enabled: $left"
ln -sf /lib/systemd/system/meter-record@.service "$wants/meter-record@ttyS0.service"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q varnik >>"$work/apt-install.log" 2>&1 || fail "purge"
left=$(find "$root/etc/systemd/system" -name 'meter-record@*')
[ -z "$left" ] || fail "purge left links to the recorder: $left"
if [ -e "$root/usr/bin/Datalogger" ] || [ -e "$root/usr/share/varnik" ]; then fail "purge left program files"; fi
sums "$user_data" var/lib/meter-record >"$work/after.sums"
cmp -s "$work/before.sums" "$work/after.sums" ||
  { diff "$work/before.sums" "$work/after.sums"; fail "data files changed or went away"; }

echo
echo "PASS: installed-package test"
echo "debootstrap minbase:            $(seconds "$debootstrap_ms") s"
echo "apt install ($new_packages packages set up, ${downloaded:-nothing} downloaded): $(seconds "$apt_ms") s"
echo "start to main window:           ${window_ms%.*} ms (5000 of them the splash)"
echo "apt install to main window:     $(seconds "$(awk -v a="$apt_ms" -v w="$window_ms" 'BEGIN { print a + w }')") s"
echo "package Installed-Size:         $installed_kib KiB"
echo "root grew by (with Qt and all):  $((used_after - used_before)) KiB"
[ -n "${tester_rows:-}" ] && echo "rows recorded: $tester_rows as tester, $unit_rows by the unit's recorder"
echo "files in the package: $(dpkg -c "$deb" | grep -vc '/$')"
