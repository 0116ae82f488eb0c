#!/bin/sh
# The window application's CPU at 30 frames a second, started hidden in the tray: each build given
# is run in turn on each source for SECONDS of wall time on a private X server (Xvfb) with a tray
# (trayer) and a private session bus, its settings in a fresh home (the detector's timing cache is
# kept from run to run, as on a desktop); prints the CPU of the finished process (user + system) per
# second of wall time, start-up included.
#     bench/window_cpu.sh SECONDS ROUNDS SOURCE... -- TOVAK [TOVAK_BEFORE ...]
set -eu
seconds=$1 rounds=$2
shift 2
sources=$1
shift
while [ "$1" != -- ]; do sources="$sources $1"; shift; done
shift
home=$(mktemp -d) cache=$(mktemp -d)
trap 'kill $tray $xvfb 2>/dev/null; sleep 1; rm -rf "$home" "$cache" 2>/dev/null' EXIT
display=:$((90 + $$ % 100))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp 2>/dev/null &
xvfb=$!
sleep 1
DISPLAY=$display trayer --edge top --align right --widthtype pixel --width 100 2>/dev/null &
tray=$!
sleep 1
# One short run of each build first, so that the timing cache is there when the figures are taken.
for tovak in "$@"; do
    rm -rf "${home:?}"/*
    mkdir -m 0700 "$home/run"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$cache XDG_RUNTIME_DIR=$home/run DISPLAY=$display \
        dbus-run-session -- timeout -s INT 5 "$tovak" --start --hidden --camera "${sources%% *}" >/dev/null 2>&1 || true
done
round=0
while [ $round -lt "$rounds" ]; do
    for source in $sources; do
        for tovak in "$@"; do
            rm -rf "${home:?}"/*
            mkdir -m 0700 "$home/run"
            # The decoy document's application outlives Tovak: its figures go to a file, not a pipe.
            HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$cache XDG_RUNTIME_DIR=$home/run \
                DISPLAY=$display dbus-run-session -- /usr/bin/time -o "$cache/time" -f '%U %S %e' \
                timeout -s INT "$seconds" "$tovak" --start --hidden --camera "$source" --loop >/dev/null 2>&1 || true
            tail -1 "$cache/time" | awk -v s="$(basename "$source")" -v t="$tovak" \
                '{printf "%-14s %5.1f %% of one core (%5.2f s in %4.1f s)  %s\n", s, 100 * ($1 + $2) / $3, $1 + $2, $3, t}'
        done
    done
    round=$((round + 1))
done
