#!/bin/sh
# The manual page names every option `tovak --help` names, and declares its encoding so that man
# renders the Russian words in any locale.
# Usage: check-man-page.sh TOVAK PAGE
set -eu
tovak="$1"
page="$2"
status=0
if [ "$(head -n 1 "$page")" != '.\" -*- coding: UTF-8 -*-' ]; then
    echo "$page: the first line is not .\\\" -*- coding: UTF-8 -*-"
    status=1
fi
help="$("$tovak" --help)"
options="$(printf '%s\n' "$help" | grep -oE '(^|[][ |])--?[a-z][a-z0-9-]*' | grep -oE -- '--?[a-z][a-z0-9-]*' | sort -u)"
[ -n "$options" ] || { echo "tovak --help named no option"; exit 1; }
for option in $options; do
    # On the page every hyphen is escaped: --camera-node is \-\-camera\-node.
    if ! grep -qF -- "$(printf '%s' "$option" | sed 's/-/\\-/g')" "$page"; then
        echo "$page: $option (from tovak --help) is missing"
        status=1
    fi
done
echo "$(printf '%s\n' "$options" | wc -l) options of tovak --help checked against $page"
exit $status
