#!/usr/bin/env python3
"""meter-sim --protocol fs9721 read by a real decoder: libsigrok's serial multimeter driver for
an FS9721-based meter, through sigrok-cli, with the pseudo-terminal passed off as /dev/ttyS0 by
scripts/sigrok-pty.sh. Every step of the sequence must come out as the meter would be read: value,
unit, AC/DC, HOLD, REL, AUTO, overload (inf), negative, and the change of function from volts to
ohms, in the sequence's order.

Usage: fs9721_sigrok_test.py METER_SIM SHIM RIG_SCRIPT
Exit code: 0 passed, 1 failed, 77 skipped (not root, no mount namespace)."""
import os
import re
import shutil
import subprocess
import sys

# libsigrok's driver for a meter built on the chip (the only place this identifier is written).
DRIVER = "tekpower-tp4000ZC"

# Each step and what sigrok-cli prints for it (after "P1: "). sigrok-cli shows values with an SI
# prefix of its own choosing (0.230 V as 230 mV), overload as inf, and ohms with the ohm sign U+2126.
STEPS = [
    ("1.234 V DC", "1.234 V DC AUTO"),
    ("-1.234 V DC", "-1.234 V DC AUTO"),
    ("0.230 V AC", "230 mV AC AUTO"),
    ("0.230 V AC HOLD", "230 mV AC HOLD AUTO"),
    ("OL V DC", "inf V DC AUTO"),
    ("390.5 mV DC", "390.5 mV DC AUTO"),
    ("-12.5 mA DC MANUAL", "-12.5 mA DC"),
    ("1.500 A AC", "1.500 A AC AUTO"),
    ("12.34 kOhm", "12.34 k\u2126 AUTO"),
    ("220.0 Ohm REL", "220.0 \u2126 AUTO REL"),
    ("OL kOhm", "inf k\u2126 AUTO"),
    ("50.0 Hz", "50.0 Hz AUTO"),
    ("23.0 degC", "23.0 °C AUTO"),
    ("48.2 %", "48.2 % AUTO"),
]
PACKETS_PER_STEP = 2
CYCLE = len(STEPS) * PACKETS_PER_STEP
SAMPLES = CYCLE + 3 * PACKETS_PER_STEP  # a whole cycle, wherever the reading starts


def fail(message, output=""):
    print(f"FAIL: {message}")
    if output:
        print(output)
    sys.exit(1)


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    meter_sim, shim, rig = sys.argv[1:]
    if os.geteuid() != 0:
        print("skipped: the pseudo-terminal rig needs root (a mount namespace)")
        return 77
    if shutil.which("sigrok-cli") is None:
        fail("sigrok-cli is missing: scripts/install-deps.sh installs it")

    sequence = "; ".join(f"{step} x{PACKETS_PER_STEP}" for step, _ in STEPS)
    sim = subprocess.Popen([meter_sim, "--protocol", "fs9721", "--sequence", sequence],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        pty = sim.stdout.readline().strip()
        if not pty:
            fail("meter-sim printed no device", sim.stderr.read())
        run = subprocess.run([rig, shim, pty, "sigrok-cli", "--driver", f"{DRIVER}:conn=/dev/ttyS0",
                              "--samples", str(SAMPLES)],
                             capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired as timeout:
        fail("sigrok-cli did not finish in 60 s", str(timeout.stdout) + str(timeout.stderr))
    finally:
        sim.terminate()
        sim.wait(timeout=10)
    if run.returncode == 77:
        print(run.stderr.strip())
        return 77
    if run.returncode != 0:
        fail(f"sigrok-cli ended with {run.returncode}", run.stdout + run.stderr)

    readings = [line[len("P1: "):] for line in run.stdout.splitlines() if line.startswith("P1: ")]
    if len(readings) != SAMPLES:
        fail(f"{len(readings)} readings instead of {SAMPLES}", run.stdout + run.stderr)
    expected = [shown for _, shown in STEPS]
    # Consecutive repeats are one step; every step must follow the one before it in the cycle.
    steps_seen = [r for i, r in enumerate(readings) if i == 0 or r != readings[i - 1]]
    for before, after in zip(steps_seen, steps_seen[1:]):
        if before not in expected:
            fail(f"unexpected reading \"{before}\"", run.stdout)
        wanted = expected[(expected.index(before) + 1) % len(expected)]
        if after != wanted:
            fail(f"\"{after}\" after \"{before}\", expected \"{wanted}\"", run.stdout)
    missing = [shown for shown in expected if shown not in steps_seen]
    if missing:
        fail(f"never seen: {missing}", run.stdout)
    print(f"passed: {len(readings)} readings through {DRIVER}, all {len(STEPS)} steps in order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
