#!/usr/bin/env bash
# Builds the Debian packages (the program, and the media module for recorded files) into a fresh
# folder, checks that each carries what it needs at run time and that the program does not need the
# module's decoders, and runs lintian on both.
set -euo pipefail
cpack="$1"
config="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
if ! "$cpack" -G DEB --config "$config" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
core="$(ls "$out"/tovak_*_amd64.deb)"
media="$(ls "$out"/tovak-media_*_amd64.deb)"
# has PACKAGE PATH...: each path is in the package.
has() {
    local deb="$1"
    shift
    dpkg-deb -c "$deb" >"$out/contents"
    for path in "$@"; do
        grep -q " \./$path\$" "$out/contents" || { echo "missing from $(basename "$deb"): $path"; exit 1; }
    done
}
has "$core" usr/bin/tovak usr/share/applications/org.tovak.Tovak.desktop usr/share/metainfo/org.tovak.Tovak.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.tovak.Tovak.svg usr/share/tovak/DefaultTrigger.csv \
    usr/share/tovak/models/face_detection_back_256x256_barracuda.onnx usr/share/tovak/models/LICENSE \
    usr/share/tovak/demo/astronaut.png usr/share/tovak/demo/grace_hopper.jpg usr/share/tovak/demo/motorcycle_left.png \
    usr/share/tovak/demo/copyright.python3-skimage usr/share/tovak/demo/copyright.python-matplotlib-data \
    usr/share/man/man1/tovak.1.gz usr/share/doc/tovak/copyright \
    usr/share/gnome-shell/extensions/tovak-window-control@tovak.org/extension.js \
    usr/share/gnome-shell/extensions/tovak-window-control-43@tovak.org/extension.js
has "$media" usr/lib/tovak/libtovak-media.so usr/share/doc/tovak-media/copyright
dpkg-deb -c "$core" | grep -q 'libtovak-media' && { echo "the media module is in $(basename "$core")"; exit 1; }
depends() { dpkg-deb -f "$1" Depends; }
depends "$core" | grep -q 'libopencv-dnn' || { echo "no dependencies computed from the binary"; exit 1; }
depends "$core" | grep -q 'libv4l-0' || { echo "the camera's libv4l2 is not a dependency"; exit 1; }
depends "$core" | grep -qE 'libopencv-(videoio|imgcodecs)' && { echo "the core package needs OpenCV's decoders"; exit 1; }
depends "$media" | grep -q 'libopencv-videoio' || { echo "no dependencies computed from the media module"; exit 1; }
depends "$media" | grep -q 'tovak (= ' || { echo "the media module does not depend on its program"; exit 1; }
grep -q '^License: GPL-3+' <(dpkg-deb --fsys-tarfile "$core" | tar -xO ./usr/share/doc/tovak/copyright) ||
    { echo "the copyright file does not license Tovak under GPL-3+"; exit 1; }
# Every warning fails but one: CPack runs ldconfig for any shared object under /usr/lib, the media
# module in its private folder included.
lintian --fail-on error,warning --suppress-tags maintscript-calls-ldconfig "$core" "$media"
