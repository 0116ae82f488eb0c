#!/usr/bin/env python3
"""The change test's worth: the whole process's CPU at 30 frames a second, with it and without.

For each source (noisy recordings from bench/make_noisy_recordings, and the built-in demo) runs
`tovak --headless --realtime --loop --max-seconds S` with the change test, with
`--detect-every-frame`, and with another build (the one before the change test), alternating, and
prints the CPU of the finished child (user + system) per second of wall time, with the share of
frames that went through the network (the last `resources` event's frames_detected/frames_seen).

    bench/change_cpu.py TOVAK RECORDINGS_DIR [OLD_TOVAK] [seconds] [rounds]
"""
import json
import os
import resource
import subprocess
import sys
import time

tovak = sys.argv[1]
recordings = sys.argv[2]
old = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] != "-" else None
seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20.0
rounds = int(sys.argv[5]) if len(sys.argv) > 5 else 2
sources = [os.path.join(recordings, name) for name in ("reading", "empty-room", "quiet-room", "demo")] + ["demo"]
modes = [("change test", tovak, []), ("every frame", tovak, ["--detect-every-frame"])]
if old:
    modes.append(("build before", old, []))


def run(binary, source, extra):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    out = subprocess.run([binary, "--headless", "--camera", source, "--lock", "dry-run", "--realtime", "--loop",
                          "--max-seconds", str(seconds)] + extra, stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    share = ""
    for line in out.splitlines():
        event = json.loads(line)
        if event.get("event") == "resources" and "frames_seen" in event:
            share = f"{100 * int(event['frames_detected']) / max(int(event['frames_seen']), 1):5.1f} % detected"
    return cpu, wall, share


print(f"load {os.getloadavg()[0]:.2f}", flush=True)
for round_ in range(rounds):
    for source in sources:
        for name, binary, extra in modes:
            cpu, wall, share = run(binary, source, extra)
            label = "demo, built in" if source == "demo" else os.path.basename(source)
            print(f"{label:14s} {name:12s} {100 * cpu / wall:5.1f} % of one core "
                  f"({cpu:5.2f} s in {wall:4.1f} s) {share}  load {os.getloadavg()[0]:.2f}", flush=True)
