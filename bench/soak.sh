#!/bin/sh
# The long run: the demo scene looped through the headless engine at full speed, with the real
# detector, for FRAMES frames (100 000 by default). tovak reports its resident memory, open file
# descriptors and threads before the first frame, every 10 000 frames and after the stop; this
# prints them and the growth of the resident memory after the first 10 000 frames.
#
#   bench/soak.sh [FRAMES] [TOVAK]        (after the default build)
#   bench/soak.sh --summary LOG           (the figures of a run already logged)
set -eu

summarise() {
    awk '
        /"event": "resources"/ {
            match($0, /"frame": [0-9]+/); frame = substr($0, RSTART + 9, RLENGTH - 9)
            match($0, /"rss_kb": "[0-9]+"/); rss = substr($0, RSTART + 11, RLENGTH - 12)
            match($0, /"fds": "[0-9]+"/); fds = substr($0, RSTART + 8, RLENGTH - 9)
            match($0, /"threads": "[0-9]+"/); thr = substr($0, RSTART + 12, RLENGTH - 13)
            n++; f[n] = frame; r[n] = rss; d[n] = fds; t[n] = thr
        }
        END {
            if (n == 0) { print "no resource reports"; exit 1 }
            printf "%10s %10s %6s %8s\n", "frame", "rss_kb", "fds", "threads"
            for (i = 1; i <= n; i++) printf "%10d %10d %6d %8d\n", f[i], r[i], d[i], t[i]
            # Reports come before frame 0, then every 10 000 frames: the second is the baseline.
            base = n >= 2 ? 2 : 0
            if (base > 0) {
                max = r[base]
                for (i = base; i <= n; i++) if (r[i] > max) max = r[i]
                printf "frames: %d; resident after 10 000 frames %d kB, at the end %d kB, highest %d kB: growth %d kB (highest %d kB)\n", \
                    f[n], r[base], r[n], max, r[n] - r[base], max - r[base]
            }
            printf "descriptors at start %d, at end %d; threads at start %d, at end %d\n", d[1], d[n], t[1], t[n]
        }' "$1"
}

if [ "${1:-}" = "--summary" ]; then
    summarise "$2"
    exit 0
fi

frames=${1:-100000}
root=$(cd "$(dirname "$0")/.." && pwd)
tovak=${2:-$root/build/default/src/app/tovak}
log=${SOAK_LOG:-$root/build/default/soak.jsonl}
# The demo runs at 30 frames a second of its own time; a little more covers the last frame.
seconds=$(awk -v n="$frames" 'BEGIN { printf "%.3f", n / 30.0 + 0.001 }')
start=$(date +%s)
"$tovak" --headless --camera demo --loop --lock dry-run --max-seconds "$seconds" > "$log"
end=$(date +%s)
echo "$frames frames in $((end - start)) s ($log)"
summarise "$log"
