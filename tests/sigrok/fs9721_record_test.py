#!/usr/bin/env python3
"""meter-record with a real serial multimeter driver (libsigrok's driver for an FS9721-based meter)
reading meter-sim --protocol fs9721, in scripts/sigrok-pty.sh's mount namespace with /dev/ttyS0
following meter-sim's link, beside the instrument (meter-sim's own protocol) on channels 1-2.

One run, in this order: the meter absent at start (tried every 5 s), then readings (DC, negative
millivolts, AC, HOLD, overload, a change from volts to ohms), a silent meter, the meter unplugged
and plugged in again, its port hung up (CPU of meter-record and its helper while hung), plugged in
again, and SIGTERM while the helper spins on a port that just hung up. Then the data file: every
digit, the unit column, 999999 with an overload event, function events, HOLD recorded as a stale
channel, link-lost/link-restored for each fault, and the instrument's channels valid throughout.

Usage: fs9721_record_test.py METER_SIM METER_RECORD SHIM RIG_SCRIPT
Exit code: 0 passed, 1 failed, 77 skipped (not root, no mount namespace)."""
import datetime
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

DRIVER = "tekpower-tp4000ZC"
SOURCE = f"sigrok:{DRIVER}"
SILENCE_S = 5  # VARNIK_WATCHDOG_MS below: the source's silence limit, and its retry (5 s already)
RETRY_S = 5
SLACK_S = 3  # the driver's scan waits for a packet; helper start under the sanitizers
RATE = 10  # packets a second
FIRST_STEP_S = 10  # the retry finds the meter within RETRY_S, rows wait 3 s more
SEQUENCE = [
    (f"1.234 V DC x{FIRST_STEP_S * RATE}", (1.234, "VDC")),
    ("-390.5 mV DC x20", (-0.3905, "VDC")),
    ("0.231 V AC x20", (0.231, "VAC")),
    ("0.777 V AC HOLD x60", None),  # never recorded
    ("OL V x20", (999999.0, "VDC")),
    ("12.34 kOhm x20", (12340.0, "Ohm")),
    ("1.500 V DC x100000", (1.5, "VDC")),
]
SILENT_AFTER_S = FIRST_STEP_S + 2 + 2 + 6 + 2 + 2 + 3
SILENT_FOR_S = 8
REPLUGGED = (2.345, "VDC")
INVALID = 999999.0
CPU_WINDOW_S = 5.0
CPU_LIMIT = 0.20  # of one core: a spinning session takes a whole one


def fail(message, log=None):
    print(f"FAIL: {message}")
    if log is not None:
        print("meter-record said:\n" + "\n".join(line for _, line in log.lines))
    sys.exit(1)


class Log:
    """meter-record's standard output, each line with its arrival (time.monotonic())."""

    def __init__(self, stream):
        self.lines = []
        self.ended = False
        self.cond = threading.Condition()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            with self.cond:
                self.lines.append((time.monotonic(), line.rstrip("\n")))
                self.cond.notify_all()
        with self.cond:
            self.ended = True
            self.cond.notify_all()

    def wait(self, text, count=1, timeout=20.0, may_end=False):
        """Arrival of the count-th line containing text; None when may_end and the output ended."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                hits = [t for t, line in self.lines if text in line]
                if len(hits) >= count:
                    return hits[count - 1]
                if self.ended and may_end:
                    return None
                left = deadline - time.monotonic()
                if left <= 0 or self.ended:
                    fail(f"no line {count} with \"{text}\" in {timeout} s", self)
                self.cond.wait(left)

    def count(self, text):
        with self.cond:
            return sum(text in line for _, line in self.lines)

    def next(self, text, after, timeout=20.0):
        """Arrival of the first line containing text after `after` such lines (a count taken earlier)."""
        return self.wait(text, after + 1, timeout)

    def rows_after(self, n, timeout=15.0):
        self.wait(" row ", self.count(" row ") + n, timeout)


def stat_ticks(pid):
    """utime, stime, cutime, cstime of a process, in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return [int(x) for x in fields[11:15]]


def helpers(pid):
    found = []
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/children") as f:
                children = f.read().split()
        except OSError:
            continue
        for child in children:
            try:
                with open(f"/proc/{child}/comm") as f:
                    if f.read().strip() == "meter-sigrok":
                        found.append(int(child))
            except OSError:
                pass
    return found


def cpu_seconds(pid):
    """CPU of meter-record, of the helpers it reaped and of the helper running now."""
    total = sum(stat_ticks(pid))
    for helper in helpers(pid):
        try:
            total += sum(stat_ticks(helper)[:2])
        except OSError:
            pass  # ended just now: counted in meter-record's reaped children next time
    return total / os.sysconf("SC_CLK_TCK")


class Meters:
    def __init__(self, meter_sim, folder):
        self.meter_sim = meter_sim
        self.folder = folder
        self.running = []

    def start(self, args, link):
        sim = subprocess.Popen([self.meter_sim, "--link", os.path.join(self.folder, link)] + args,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if not sim.stdout.readline().strip():
            fail("meter-sim printed no device")
        self.running.append(sim)
        return sim

    def stop_all(self):
        for sim in self.running:
            if sim.poll() is None:
                sim.terminate()
            sim.wait(timeout=10)


def record(meter_sim, meter_record, shim, rig, folder):
    """Runs the faults; returns the log and the time meter-record took to end on SIGTERM."""
    meters = Meters(meter_sim, folder)
    env = dict(os.environ, XDG_CONFIG_HOME=folder, VARNIK_WATCHDOG_MS=str(SILENCE_S * 1000),
               # the shim is preloaded ahead of the sanitizer's runtime
               ASAN_OPTIONS=":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"])))
    meters.start(["--channels", "2"], "meter")
    recorder = subprocess.Popen(
        [rig, shim, "--follow", os.path.join(folder, "dmm"), meter_record, "--data-dir", folder,
         "--data-file", "Dmm", "--channels", "8", "--scan-rate", "1", "--verbose",
         "--device", os.path.join(folder, "meter"), "--source", "meter", "--source", f"{SOURCE}:conn=/dev/ttyS0@3"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
    log = Log(recorder.stdout)
    try:
        # Absent at start: said once, tried every RETRY_S. Plugged in after the second try, it
        # is found by the third.
        absent = f"{SOURCE}: no {DRIVER} device found; trying again every {RETRY_S} s"
        first = log.wait(absent, 1, 30, may_end=True)
        if first is None and recorder.wait() == 77:
            return None, None
        if first is None:
            fail(f"meter-record ended with {recorder.returncode}", log)
        time.sleep(RETRY_S + 1)  # the user plugs the meter in later
        plugged = time.monotonic()
        meters.start(["--protocol", "fs9721", "--rate", str(RATE), "--sequence", "; ".join(s for s, _ in SEQUENCE),
                      "--silence-after", str(SILENT_AFTER_S), "--silence", str(SILENT_FOR_S)], "dmm")
        up = log.wait(f"{SOURCE}: readings arriving")
        print(f"absent at start: readings {up - first:.1f} s after the first try, {up - plugged:.1f} s after "
              "plugging in")
        if not 2 * RETRY_S - 1 <= up - first <= 2 * RETRY_S + 1.5 or log.count(absent) != 1:
            fail(f"not tried every {RETRY_S} s, or that said more than once", log)

        # Silent: link lost within the silence limit, back when packets return.
        silent = plugged + SILENT_AFTER_S
        lost = log.wait(f"no frames from {SOURCE} for more than 3 s", 1, SILENT_AFTER_S + 15)
        log.wait(f"{SOURCE}: no readings for {SILENCE_S} s: helper restarted", 1)
        back = log.wait(f"{SOURCE}: readings arriving", 2, SILENT_FOR_S + 15)  # the first began the run
        print(f"silent: link lost {lost - silent:.1f} s after the last packet, "
              f"readings again {back - (silent + SILENT_FOR_S):.1f} s after packets returned")
        if lost - silent > SILENCE_S + 1 or back - (silent + SILENT_FOR_S) > RETRY_S + SLACK_S:
            fail("the silence was noticed or its end found too late", log)
        log.rows_after(3)

        # Unplugged (meter-sim ends: its port hangs up and /dev/ttyS0 goes), then plugged in again.
        spins = f"{SOURCE}: the session spins without readings (the device hung up); trying again every {RETRY_S} s"
        arriving = f"{SOURCE}: readings arriving"
        marks = log.count(spins), log.count(absent), log.count(arriving)
        meters.running[-1].terminate()
        meters.running[-1].wait(timeout=10)
        unplugged = time.monotonic()
        noticed = log.next(spins, marks[0])
        log.next(absent, marks[1])
        plugged = time.monotonic()
        meters.start(["--protocol", "fs9721", "--rate", str(RATE), "--sequence", "2.345 V DC"], "dmm")
        up = log.next(arriving, marks[2])
        print(f"unplugged: noticed after {noticed - unplugged:.1f} s; readings {up - plugged:.1f} s after "
              "plugging in again")
        if noticed - unplugged > 3 or up - plugged > RETRY_S + SLACK_S:
            fail("unplugging or plugging in again was noticed too late", log)
        log.rows_after(3)

        # Hung up (meter-sim killed: the port hangs up, /dev/ttyS0 stays): no spinning while hung.
        marks = log.count(spins), log.count(arriving)
        hung_at = time.monotonic()
        cpu_at_hang = cpu_seconds(recorder.pid)
        meters.running[-1].kill()
        meters.running[-1].wait(timeout=10)
        noticed = log.next(spins, marks[0])
        start, cpu_start = time.monotonic(), cpu_seconds(recorder.pid)
        time.sleep(CPU_WINDOW_S)  # a span of time to measure, not a wait for an event
        end, cpu_end = time.monotonic(), cpu_seconds(recorder.pid)
        share = (cpu_end - cpu_start) / (end - start)
        whole = (cpu_end - cpu_at_hang) / (end - hung_at)
        print(f"hung up: noticed after {noticed - hung_at:.1f} s; CPU of meter-record and meter-sigrok "
              f"{share:.1%} of a core over the {end - start:.1f} s after that "
              f"({whole:.1%} from the hang-up on, the spin before it was noticed included)")
        if share >= CPU_LIMIT:
            fail(f"{share:.1%} of a core while the meter is hung up", log)
        if noticed - hung_at > 3:
            fail(f"the hang-up noticed after {noticed - hung_at:.1f} s", log)

        # Plugged in again, then hung up and stopped while the helper spins.
        meters.start(["--protocol", "fs9721", "--rate", str(RATE), "--sequence", "2.345 V DC"], "dmm")
        log.next(arriving, marks[1], RETRY_S + SLACK_S + 5)
        log.rows_after(2)
        noticed = log.count(spins)
        meters.running[-1].kill()
        meters.running[-1].wait(timeout=10)
        helper = helpers(recorder.pid)
        if len(helper) != 1:
            fail(f"{len(helper)} helpers run", log)
        # Stopped once the helper has burnt 50 ms since the hang-up (waiting for a meter takes
        # none), before it ends the spinning session itself.
        before = sum(stat_ticks(helper[0])[:2])
        spun = 0
        while spun < 0.05 and log.count(spins) == noticed:
            time.sleep(0.02)
            spun = (sum(stat_ticks(helper[0])[:2]) - before) / os.sysconf("SC_CLK_TCK")
        if log.count(spins) != noticed:
            fail("the helper ended its session before it was seen spinning", log)
        stopping = time.monotonic()
        recorder.send_signal(signal.SIGTERM)
        code = recorder.wait(timeout=10)
        took = time.monotonic() - stopping
        print(f"stopped while the helper spun: ended in {took:.2f} s, exit code {code}")
        if code != 0:
            fail(f"meter-record ended with {code}", log)
        return log, took
    finally:
        if recorder.poll() is None:
            recorder.kill()
            recorder.wait()
        meters.stop_all()


def seconds(when):
    return datetime.datetime.strptime(when, "%Y-%m-%d %H:%M:%S").timestamp()


def check_file(path):
    db = sqlite3.connect(path)
    rows = db.execute("SELECT date || ' ' || time, [chan 1], trim([unit 1]), [chan 2], trim([unit 2]), [chan 3], "
                      "trim([unit 3]) FROM DataRecord ORDER BY rowid").fetchall()
    events = db.execute("SELECT date || ' ' || time, kind, channel, text FROM EventLog "
                        "WHERE kind NOT IN ('high', 'low', 'normal') ORDER BY id").fetchall()

    # The instrument, the other source, is recorded in every row, through every fault.
    for when, c1, u1, c2, u2, _, _ in rows:
        if INVALID in (c1, c2) or not u1 or not u2:
            fail(f"the instrument's channels are not valid at {when}: {c1} {u1}, {c2} {u2}")

    # The meter's readings: exactly as shown, in the base unit, with the unit as recorded.
    allowed = {r for _, r in SEQUENCE if r} | {REPLUGGED, (INVALID, "")}
    seen = [(c3, u3) for *_, c3, u3 in rows]
    for value in seen:
        if value not in allowed:
            fail(f"channel 3 recorded {value}, which the meter never showed so")
    for value in allowed:
        if value not in seen:
            fail(f"channel 3 never recorded {value}")

    # HOLD: the link stays up and the channel goes stale, 999999 with no unit, after the last AC
    # reading and before the overload.
    last_ac = max(i for i, r in enumerate(seen) if r == (0.231, "VAC"))
    first_ol = seen.index((INVALID, "VDC"))
    held = [r for r in seen[last_ac + 1:first_ol]]
    if len(held) < 2 or any(r != (INVALID, "") for r in held):
        fail(f"HOLD recorded as {held}, not as a stale channel")
    hold_span = (rows[last_ac][0], rows[first_ol][0])
    if any(k.startswith("link-") and hold_span[0] <= w <= hold_span[1] for w, k, _, _ in events):
        fail("the link went down during HOLD")

    kinds = [(k, c, t) for _, k, c, t in events]
    overloads = [e for e in kinds if e[0] == "overload"]
    if overloads != [("overload", 3, "voltage VDC: over range (+)")]:
        fail(f"overload events: {overloads}")
    functions = [t for k, c, t in kinds if k == "function" and c == 3]
    wanted = ["voltage VDC to voltage VAC", "HOLD on", "HOLD off", "voltage VAC to voltage VDC",
              "voltage VDC to resistance Ohm", "resistance Ohm to voltage VDC"]
    if functions != wanted:
        fail(f"function events {functions}, expected {wanted}")
    to_ohm = next(w for w, k, _, t in events if t == "voltage VDC to resistance Ohm")
    first_ohm = next(r[0] for r in rows if r[6] == "Ohm")
    if to_ohm > first_ohm:
        fail(f"the change to ohms logged at {to_ohm}, after the row of {first_ohm}")

    # Each fault: link-lost for the meter, then link-restored; rows go on with the instrument.
    links = [(w, k, t) for w, k, _, t in events if k.startswith("link-")]
    expected = [("link-lost", f"{SOURCE}: no {DRIVER} device found"), ("link-restored", ""),
                ("link-lost", f"no frames from {SOURCE} for more than 3 s"), ("link-restored", ""),
                ("link-lost", f"{SOURCE}: the session spins without readings"), ("link-restored", ""),
                ("link-lost", f"{SOURCE}: the session spins without readings"), ("link-restored", "")]
    if len(links) < len(expected) or any(k != ek or not t.startswith(et)
                                         for (_, k, t), (ek, et) in zip(links, expected)):
        fail("link events:\n" + "\n".join(map(str, links)))
    # A link-lost is timed at the last reading, which stays current for 3 s.
    for (lost, _, _), (restored, _, _) in zip(links[0::2], links[1::2]):
        during = [r for r in rows if lost < r[0] < restored]
        if not during:
            fail(f"no rows from {lost} to {restored}")
        stale = [r for r in during if seconds(r[0]) > seconds(lost) + 3]
        if not stale or any(r[5:] != (INVALID, "") for r in stale):
            fail(f"channel 3 from {lost} to {restored}: {[r[5:] for r in during]}")
    if kinds[-1][0] != "stop":
        fail(f"the event log ends with {kinds[-1]}")
    print(f"data file: {len(rows)} rows, {len(events)} events as expected")


def main():
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    meter_sim, meter_record, shim, rig = sys.argv[1:]
    if os.geteuid() != 0:
        print("skipped: the pseudo-terminal rig needs root (a mount namespace)")
        return 77
    folder = tempfile.mkdtemp(prefix="fs9721-record-")
    try:
        source_data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data")
        for name in ("default.txt", "unit2.dat", "display.dat", "dispchan.dat"):
            shutil.copy(os.path.join(source_data, name), folder)
        log, took = record(meter_sim, meter_record, shim, rig, folder)
        if log is None:
            print("skipped: this machine cannot run the pseudo-terminal rig")
            return 77
        if took > 1.5:
            fail(f"meter-record took {took:.2f} s to stop", log)
        check_file(os.path.join(folder, "Dmm.mdb"))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
