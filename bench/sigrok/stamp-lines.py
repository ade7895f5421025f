#!/usr/bin/env python3
"""A stand-in helper for bench/sigrok/latency.sh (VARNIK_SIGROK_HELPER): runs the real meter-sigrok
($STAMP_HELPER) with the same arguments, passes its lines on unchanged and writes "UNIX-SECONDS VALUE"
to $STAMP_LOG for each reading line as it leaves the helper, so the path can be split into the
driver plus helper, and the recorder after it."""
import os
import signal
import subprocess
import sys
import time

helper = subprocess.Popen([os.environ["STAMP_HELPER"], *sys.argv[1:]], stdout=subprocess.PIPE, bufsize=0)
signal.signal(signal.SIGTERM, lambda *_: (helper.terminate(), helper.wait(), sys.exit(0)))
log = open(os.environ["STAMP_LOG"], "a")
out = sys.stdout.buffer
pending = b""
while True:
    chunk = helper.stdout.read(4096)
    if not chunk:
        break
    now = time.time()
    out.write(chunk)
    out.flush()
    pending += chunk
    *lines, pending = pending.split(b"\n")
    for line in lines:
        fields = line.split(b"\t")
        if fields[0] == b"reading" and len(fields) > 2:
            log.write(f"{now:.6f} {fields[2].decode()}\n")
    log.flush()
sys.exit(helper.wait())
