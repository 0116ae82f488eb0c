#!/usr/bin/env bash
# Builds the Debian packages (the program, and the media module for recorded files) into a fresh
# folder, checks that each carries what it needs at run time and that the program does not need the
# module's decoders, and runs lintian on both: any error fails.
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
    usr/share/tovak/demo/copyright.python3-skimage usr/share/tovak/demo/copyright.python-matplotlib-data
has "$media" usr/lib/tovak/libtovak-media.so usr/share/doc/tovak-media/copyright
dpkg-deb -c "$core" | grep -q 'libtovak-media' && { echo "the media module is in $(basename "$core")"; exit 1; }
depends() { dpkg-deb -f "$1" Depends; }
depends "$core" | grep -q 'libopencv-dnn' || { echo "no dependencies computed from the binary"; exit 1; }
depends "$core" | grep -q 'libv4l-0' || { echo "the camera's libv4l2 is not a dependency"; exit 1; }
depends "$core" | grep -qE 'libopencv-(videoio|imgcodecs)' && { echo "the core package needs OpenCV's decoders"; exit 1; }
depends "$media" | grep -q 'libopencv-videoio' || { echo "no dependencies computed from the media module"; exit 1; }
depends "$media" | grep -q 'tovak (= ' || { echo "the media module does not depend on its program"; exit 1; }
lintian --fail-on error "$core" "$media"
