#!/usr/bin/env python3
"""The figures of bench/sigrok/latency.sh from its run folder: latency from a packet's last byte
(bench_sigrok's log) to the channel-1 MQTT message and to the row (its MQTT row message on
arrival, and the row's own time), per meter, with the first 10 s of start-up left out.

Usage: latency.py RUN-FOLDER T0 T1"""
import json
import sys
from bisect import bisect_right
from datetime import datetime, timezone

run, t0, t1 = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
START = 10.0  # seconds of start-up (the helper's scan of the port) not counted


def packets(name):
    """value key -> ascending list of write instants of the packets with that value"""
    by_key = {}
    for line in open(f"{run}/{name}.packets"):
        index, at = line.split()
        key = int(index) % 4000 if name == "dmm" else int(index)
        by_key.setdefault(key, []).append(float(at))
    return by_key


def key_of(name, value):
    return round(value * 1000) if name == "dmm" else round(value)


def packet_time(table, key, before):
    """the latest packet with this value written before `before`"""
    times = table.get(key, [])
    i = bisect_right(times, before)
    return times[i - 1] if i else None


def utc(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc).timestamp()


def summary(label, values):
    if not values:
        print(f"  {label}: none")
        return
    values = sorted(v * 1000 for v in values)
    pick = lambda q: values[min(len(values) - 1, int(q * len(values)))]
    print(f"  {label:44s} n={len(values):5d}  median {pick(0.5):7.1f}  p95 {pick(0.95):7.1f}  "
          f"max {values[-1]:7.1f}  min {values[0]:6.1f} ms")


for name in ("dmm", "meter"):
    table = packets(name)
    count = sum(len(v) for v in table.values())
    reading, station, broker, row_msg, row_time = [], [], [], [], []
    for line in open(f"{run}/sub.out"):
        parts = line.split(" ", 2)
        if len(parts) < 3 or not parts[1].startswith(f"bench/{name}/"):
            continue
        received = float(parts[0])
        if received < t0 + START or received > t1:
            continue
        payload = json.loads(parts[2])
        if parts[1].endswith("/row"):
            value = payload["channels"].get("1", {}).get("value")
            if value is None:
                continue
            sent = packet_time(table, key_of(name, value), received)
            if sent is not None:
                row_msg.append(received - sent)
                row_time.append(utc(payload["utc"]) - sent)
        elif payload.get("value") is not None:
            sent = packet_time(table, key_of(name, payload["value"]), received)
            if sent is not None:
                reading.append(received - sent)
                station.append(utc(payload["time"]) - sent)
                broker.append(received - utc(payload["time"]))
    print(f"{name}: {count} packets sent")
    summary("packet -> MQTT reading at the subscriber", reading)
    summary("  packet -> reading at the station ('time')", station)
    summary("  station -> subscriber", broker)
    summary("packet -> row message at the subscriber", row_msg)
    summary("  packet -> the row's time ('utc')", row_time)
    if name == "dmm":
        try:
            lines = [line.split() for line in open(f"{run}/dmm.lines")]
        except FileNotFoundError:
            continue
        helper = []
        for at, value in lines:
            sent = packet_time(table, key_of(name, float(value)), float(at))
            if sent is not None and t0 + START <= float(at) <= t1:
                helper.append(float(at) - sent)
        summary("packet -> line out of meter-sigrok (STAMP=1)", helper)
