#!/usr/bin/env python3
"""What a user feels: tovak's CPU while it watches.

Runs `tovak --headless --camera demo --realtime` (the demo camera paced at its 30 frames a
second) for 30 s on each face-detection engine, one after the other, and prints the whole
process's CPU time (getrusage of the finished child: user + system) per second of wall time.

    bench/live_cpu.py [path/to/tovak] [seconds]
"""
import resource
import subprocess
import sys
import time

tovak = sys.argv[1] if len(sys.argv) > 1 else "build/default/src/app/tovak"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0

for engine in ("onednn", "opencv"):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run([tovak, "--headless", "--camera", "demo", "--lock", "dry-run", "--realtime",
                    "--max-seconds", str(seconds), "--detector", engine],
                   stdout=subprocess.DEVNULL, check=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    # A run that could not keep up took longer than its source: its share of a core then says
    # what the machine gave it, not what it needs, so it is marked.
    late = "" if wall < seconds * 1.1 else f" (fell behind: {seconds:.0f} s of frames took {wall:.0f} s)"
    print(f"{engine:7s} {cpu:6.2f} s CPU in {wall:5.1f} s wall: {100 * cpu / wall:5.1f} % of one core at 30 fps"
          f"{late}", flush=True)
