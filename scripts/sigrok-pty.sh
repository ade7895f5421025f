#!/usr/bin/env bash
# Runs a serial-port program against a pseudo-terminal as if it were the serial port /dev/ttyS0:
# for libsigrok's serial multimeter drivers against meter-sim, which has no hardware port.
#
# Usage: scripts/sigrok-pty.sh SHIM PTY COMMAND [ARG...]
#        scripts/sigrok-pty.sh SHIM --follow LINK COMMAND [ARG...]
#   SHIM  the preloaded library built from tests/sigrok/pty_modem_lines.c (CMake target
#         pty_modem_lines, in the build folder as libpty_modem_lines.so)
#   PTY   the pseudo-terminal's slave side, e.g. the path meter-sim prints first
#   --follow LINK: /dev/ttyS0 follows the symbolic link LINK (meter-sim --link LINK), checked
#         every 0.1 s while COMMAND runs: absent while LINK is missing (a meter not plugged in),
#         bound to LINK's pseudo-terminal when LINK appears or points to another one (plugged in
#         again, also when a new link names the same number), and removed when LINK goes (meter-sim
#         ended: pulled out). A pseudo-terminal that hangs up while LINK stays (meter-sim killed
#         with SIGKILL leaves its link) stays bound: a hung-up port.
#
# libserialport (0.1.1) takes only a port named /dev/NAME that has a /sys/class/tty/NAME entry,
# and it reads and sets the modem lines, which a pseudo-terminal lacks. So COMMAND runs in a
# mount namespace of its own (unshare -m; nothing outside it sees a change) whose /dev is a small
# tmpfs holding the pseudo-terminal bind-mounted as /dev/ttyS0 and the few nodes a program needs
# (null, zero, full, random, urandom, tty, ptmx, pts, shm, fd, stdin/out/err), with SHIM preloaded
# to answer the modem-line ioctls for pseudo-terminals. /sys/class/tty/ttyS0 is the machine's
# own: Linux has it whenever the 8250 serial driver is built in, as on Debian's kernels. The
# library only reads it as a symbolic link (readlink), so where it is missing a link of that name
# to an empty directory, on a tmpfs over /sys/class/tty, stands in for it.
#
# Needs root (mounts). Exit code: COMMAND's, 77 when this machine cannot do it (not root, no
# mount namespace), 2 for a usage error.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 SHIM PTY COMMAND [ARG...]" >&2
  exit 2
fi
shim=$(readlink -f "$1")
if [ "$2" = --follow ]; then
  [ $# -ge 4 ] || { echo "usage: $0 SHIM --follow LINK COMMAND [ARG...]" >&2; exit 2; }
  follow=$(realpath -ms "$3")
  pty=
  shift 3
else
  follow=
  pty=$(readlink -f "$2")
  shift 2
  [ -c "$pty" ] || { echo "sigrok-pty.sh: $pty is not a character device" >&2; exit 2; }
fi
[ -f "$shim" ] || { echo "sigrok-pty.sh: no shim at $shim" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "sigrok-pty.sh: needs root for a mount namespace; skipped" >&2
  exit 77
fi
if ! unshare -m true 2>/dev/null; then
  echo "sigrok-pty.sh: this machine gives no mount namespace; skipped" >&2
  exit 77
fi

# The part that runs inside the namespace. $1 shim, $2 pty, $3 the link to follow (one of the
# two empty), the rest the command.
inside='
set -euo pipefail
shim=$1 pty=$2 follow=$3
shift 3
mount --make-rprivate /
real=$(mktemp -d /tmp/sigrok-pty-dev.XXXXXX)
mount --rbind /dev "$real"
mount -t tmpfs -o mode=0755,size=1m sigrok-pty /dev
for node in null zero full random urandom tty ptmx; do
  if [ -e "$real/$node" ]; then
    touch "/dev/$node"
    mount --bind "$real/$node" "/dev/$node"
  fi
done
mkdir /dev/pts /dev/shm
mount --rbind "$real/pts" /dev/pts
mount -t tmpfs -o mode=1777,size=16m sigrok-pty-shm /dev/shm
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr
if [ -n "$pty" ]; then
  touch /dev/ttyS0
  mount --bind "$real${pty#/dev}" /dev/ttyS0
fi
umount -l "$real"
rmdir "$real"
if [ ! -e /sys/class/tty/ttyS0 ]; then
  mount -t tmpfs -o size=1m sigrok-pty-sys /sys/class/tty
  mkdir -p /sys/class/tty/.ttyS0/device
  ln -s .ttyS0 /sys/class/tty/ttyS0
fi
if [ -n "$follow" ]; then
  bound=
  # /dev/ttyS0 as LINK says now; a device held open is let go lazily (its holder sees it hang up).
  # A link made anew is another device even when it names the same /dev/pts/N (numbers are reused).
  sync_port() {
    local target link
    target=$(readlink "$follow" 2>/dev/null) || target=
    link=${target:+$(stat -c %i "$follow" 2>/dev/null):$target}
    [ "$link" = "$bound" ] && return 0
    if [ -n "$bound" ]; then
      umount -l /dev/ttyS0 2>/dev/null || true
      rm -f /dev/ttyS0
      bound=
    fi
    if [ -n "$target" ] && [ -c "$target" ]; then
      touch /dev/ttyS0
      mount --bind "$target" /dev/ttyS0 && bound=$link
    fi
    return 0
  }
  sync_port
  main=$$
  # Ends with COMMAND, which takes over this shell process.
  ( while kill -0 "$main" 2>/dev/null; do sync_port; sleep 0.1; done ) </dev/null >/dev/null 2>&1 &
fi
exec env LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}" "$@"
'
exec unshare -m bash -c "$inside" sigrok-pty "$shim" "$pty" "$follow" "$@"
