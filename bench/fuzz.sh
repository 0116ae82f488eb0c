#!/bin/sh
# Runs the fuzz targets, one after another, each for SECONDS (600 by default), seeded with a copy of
# its corpus from tests/fuzz/<target>/ so the committed corpus never grows by accident. Configures
# and builds the fuzz preset (clang, libFuzzer, address and undefined-behaviour sanitizers) when
# needed. Prints per target the executions, the corpus it ended with and what it found; the
# crashing inputs and the logs stay in the scratch folder it names.
#
#   bench/fuzz.sh [SECONDS] [TARGET...]     (targets: journal ignored-faces policy command-line
#                                            implementation-cache onnx-model sway-ipc wlroots-events)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-journal ignored-faces policy command-line implementation-cache onnx-model sway-ipc wlroots-events}
build=$root/build/fuzz

if [ ! -f "$build/build.ninja" ]; then
    (cd "$root" && cmake --preset fuzz >/dev/null)
fi
for target in $targets; do
    nice -n 10 cmake --build "$build" --target "fuzz-$target" >/dev/null
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovak-fuzz.XXXXXX")
echo "scratch folder: $scratch"
printf '%-22s %8s %12s %8s %9s\n' target seconds executions corpus findings
failed=0
for target in $targets; do
    mkdir -p "$scratch/$target/corpus" "$scratch/$target/found"
    cp "$root/tests/fuzz/$target/"* "$scratch/$target/corpus/"
    # The targets' own chatter (libwayland's complaints about a broken compositor) is closed off;
    # libFuzzer and the sanitizers still report.
    status=0
    started=$(date +%s)
    LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp \
        nice -n 10 "$build/src/fuzz/fuzz-$target" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
        -close_fd_mask=3 -artifact_prefix="$scratch/$target/found/" "$scratch/$target/corpus" \
        >"$scratch/$target/log" 2>&1 || status=$?
    ran=$(($(date +%s) - started))
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target/log" | tail -n 1)
    corpus=$(find "$scratch/$target/corpus" -type f | wc -l)
    findings=$(find "$scratch/$target/found" -type f | wc -l)
    printf '%-22s %8s %12s %8s %9s\n' "$target" "$ran" "${executions:-?}" "$corpus" "$findings"
    if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
        failed=1
        ls "$scratch/$target/found/"
    fi
done
exit $failed
