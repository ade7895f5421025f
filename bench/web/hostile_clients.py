#!/usr/bin/python3
"""Hostile clients against a recorder's status page, and one patient client beside them.

    hostile_clients.py PORT SECONDS slow N      N connections each trickling a header byte every
                                                8 s, reconnecting at once when cut off
    hostile_clients.py PORT SECONDS deaf N      N /api/stream connections that never read,
                                                reopened when ended

Meanwhile a client fetches /api/status every 2 s on a new connection and counts the answers that
came within 2 s. Prints that rate, and how many hostile connections the server ended."""
import socket
import sys
import time

port, seconds, mode, count = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3], int(sys.argv[4])
SLOW_REQUEST = b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n" + b"X-Slow: " + b"a" * 1000 + b"\r\n\r\n"


def connect():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if mode == "deaf":
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.setblocking(False)
    try:
        s.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    return {"socket": s, "sent": 0, "next": time.monotonic(), "opened": time.monotonic()}


def ended(s):
    try:
        return s.recv(1, socket.MSG_PEEK) == b"" if mode == "slow" else False
    except BlockingIOError:
        return False
    except OSError:
        return True


def patient_get():
    started = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            s.settimeout(max(0.01, 2 - (time.monotonic() - started)))
            s.sendall(b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
            reply = b""
            while time.monotonic() - started < 2:
                s.settimeout(max(0.01, 2 - (time.monotonic() - started)))
                part = s.recv(65536)
                if not part:
                    break
                reply += part
            return reply.startswith(b"HTTP/1.1 200") and reply.rstrip().endswith(b"}")
    except OSError:
        return False


clients = [connect() for _ in range(count)]
if mode == "deaf":
    time.sleep(0.5)
    for c in clients:
        try:
            c["socket"].send(b"GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        except OSError:
            pass
cut, asked, answered, lifetimes = 0, 0, 0, []
start = time.monotonic()
next_get = start
while time.monotonic() - start < seconds:
    now = time.monotonic()
    for i, c in enumerate(clients):
        s = c["socket"]
        gone = ended(s)
        if mode == "deaf":
            try:
                s.send(b"")
                gone = s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0
            except OSError:
                gone = True
        if gone:
            cut += 1
            lifetimes.append(now - c["opened"])
            s.close()
            clients[i] = connect()
            if mode == "deaf":
                time.sleep(0.05)
                try:
                    clients[i]["socket"].send(b"GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                except OSError:
                    pass
            continue
        if mode == "slow" and now >= c["next"] and c["sent"] < len(SLOW_REQUEST):
            try:
                s.send(SLOW_REQUEST[c["sent"]:c["sent"] + 1])
                c["sent"] += 1
            except OSError:
                pass
            c["next"] = now + 8
    if now >= next_get:
        asked += 1
        answered += patient_get()
        next_get += 2
    time.sleep(0.05)
for c in clients:
    c["socket"].close()
life = sorted(lifetimes)
print("%s x%d for %.0f s: /api/status answered within 2 s %d of %d (%.1f %%); hostile connections ended "
      "by the server: %d%s" % (mode, count, seconds, answered, asked, 100.0 * answered / max(asked, 1), cut,
                               ", each after %.1f..%.1f s (median %.1f)" % (life[0], life[-1], life[len(life) // 2])
                               if life else ""))
