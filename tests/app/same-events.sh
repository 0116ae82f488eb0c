#!/bin/sh
# The change test must never change what Tovak decides: every noisy recording, replayed with it and
# with --detect-every-frame, on every detector engine, gives the same events line for line, each
# change of a frame's face count among them (--face-counts). The recording "built-in" is the demo
# camera itself, without grain.
#     [ENGINES="onednn ..."] same-events.sh TOVAK MAKE_NOISY_RECORDINGS OUT_DIR [RECORDING...]
set -eu
tovak=$1 make=$2 out=$3
shift 3
recordings=${*:-reading empty-room quiet-room far-onlooker dark-onlooker visitor}
"$make" "$out" >/dev/null
status=0
for engine in ${ENGINES:-onednn onednn-f32 opencv}; do
    for name in $recordings; do
        camera=$out/$name
        [ "$name" = built-in ] && camera=demo
        run() { "$tovak" --headless --face-counts --lock dry-run --detector "$engine" --camera "$camera" "$@"; }
        run >"$out/$name.$engine.on" 2>"$out/$name.$engine.err"
        run --detect-every-frame >"$out/$name.$engine.off" 2>>"$out/$name.$engine.err"
        if cmp -s "$out/$name.$engine.on" "$out/$name.$engine.off"; then
            echo "same events: $name on $engine ($(wc -l <"$out/$name.$engine.on") lines)"
        else
            echo "DIFFERENT events: $name on $engine"
            diff "$out/$name.$engine.off" "$out/$name.$engine.on" | head -20
            status=1
        fi
    done
done
exit $status
