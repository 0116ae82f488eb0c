#!/usr/bin/env bash
# Builds the Debian package into a fresh folder, checks that it carries what the program needs at
# run time, and runs lintian on it: any error fails.
set -euo pipefail
cpack="$1"
config="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
if ! "$cpack" -G DEB --config "$config" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
deb="$(ls "$out"/tovak_*_amd64.deb)"
dpkg-deb -c "$deb" >"$out/contents"
for path in usr/bin/tovak usr/lib/tovak/libtovak-media.so usr/share/applications/org.tovak.Tovak.desktop usr/share/metainfo/org.tovak.Tovak.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.tovak.Tovak.svg usr/share/tovak/DefaultTrigger.csv \
    usr/share/tovak/models/face_detection_back_256x256_barracuda.onnx usr/share/tovak/models/LICENSE \
    usr/share/tovak/demo/astronaut.png usr/share/tovak/demo/grace_hopper.jpg usr/share/tovak/demo/motorcycle_left.png \
    usr/share/tovak/demo/copyright.python3-skimage usr/share/tovak/demo/copyright.python-matplotlib-data \
    usr/share/man/man1/tovak.1.gz usr/share/doc/tovak/copyright; do
    grep -q " \./$path\$" "$out/contents" || { echo "missing from $(basename "$deb"): $path"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q 'libopencv-dnn' || { echo "no dependencies computed from the binary"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q 'libopencv-videoio' || { echo "no dependencies computed from the media module"; exit 1; }
grep -q '^License: GPL-3+' <(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/tovak/copyright) ||
    { echo "the copyright file does not license Tovak under GPL-3+"; exit 1; }
# Every warning fails but one: CPack runs ldconfig for any shared object under /usr/lib, the media
# module in its private folder included.
lintian --fail-on error,warning --suppress-tags maintscript-calls-ldconfig "$deb"
