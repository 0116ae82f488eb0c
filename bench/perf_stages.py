#!/usr/bin/env python3
"""Where a live frame's CPU goes, by stage, from `perf`: records a headless `--realtime --loop` run
(or any command given after --) and sorts its samples into the frame's stages by shared object and
symbol. Prints each stage's share of the samples and of one core.

    bench/perf_stages.py SECONDS TOVAK SOURCE [extra tovak options...]
"""
import re
import resource
import subprocess
import sys
import tempfile
import time

STAGES = [  # first match wins: (stage, pattern over "dso symbol")
    ("network (oneDNN)", r"^\[JIT\]|libdnnl|OneDnn|onednn::"),
    ("network (OpenCV DNN)", r"libopencv_dnn"),
    ("letterbox", r"LetterboxSampler|blendRow"),
    ("change test", r"ChangeTest|ScoreMargin"),
    ("decoding faces", r"BlazeFaceDecoding|decodeFaces|anchors"),
    ("picture in: JPEG/PNG decoding", r"libjpeg|libpng|libz\.|PhotoFile|readJpegFrame"),
    ("picture in: demo drawing", r"DemoScene|sources::|imaging::"),
    ("picture in: copies", r"memmove|memcpy"),
    ("engine", r"monitor::|trigger::|runtime::|PrivacyMonitor|journal::|audit::"),
    ("Qt", r"libQt6"),
    ("kernel (reads, waits, page faults)", r"\[kernel"),
    ("start-up (dynamic loader)", r"ld-linux"),
]


def main():
    seconds, tovak, source = sys.argv[1], sys.argv[2], sys.argv[3]
    extra = sys.argv[4:]
    with tempfile.NamedTemporaryFile(suffix=".data") as data:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.monotonic()
        subprocess.run(["perf", "record", "-q", "-F", "999", "-o", data.name, tovak, "--headless", "--camera", source,
                        "--lock", "dry-run", "--realtime", "--loop", "--max-seconds", seconds] + extra,
                       stdout=subprocess.DEVNULL, check=True)
        wall = time.monotonic() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        report = subprocess.run(["perf", "report", "-i", data.name, "--no-children", "--sort", "dso,sym", "--stdio",
                                 "--percent-limit", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True, check=True).stdout
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    shares = {name: 0.0 for name, _ in STAGES}
    shares["other"] = 0.0
    for line in report.splitlines():
        match = re.match(r"\s*([\d.]+)%\s+(.+?)\s+\[[.k]\]\s+(.*)", line)
        if not match:
            continue
        percent, text = float(match.group(1)), match.group(2) + " " + match.group(3)
        stage = next((name for name, pattern in STAGES if re.search(pattern, text)), "other")
        shares[stage] += percent
    # perf itself runs beside the process: the figure is the process's (and perf's) CPU over wall time.
    print(f"{source}: {100 * cpu / wall:.1f} % of one core with perf running ({cpu:.2f} s in {wall:.1f} s)")
    for name, share in sorted(shares.items(), key=lambda item: -item[1]):
        if share >= 0.05:
            print(f"  {name:36s} {share:5.1f} % of samples")


main()
