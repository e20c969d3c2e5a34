#!/usr/bin/env bash
# The README's pictures against fresh ones: scripts/screenshot takes them anew from BUILD_DIR (a
# build aimed at loopback) into a folder of its own, and each must have the size of its copy in
# docs/. A window that grew or shrank, or a chart exported at another size, means docs/ is stale:
# take the pictures again with scripts/screenshot and commit them.
# Usage: check_screenshots.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT

# A PNG's width and height, from its header.
size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 "x" \
        $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }'
}

"$src/scripts/screenshot" --into "$fresh" "$build"
status=0
for picture in vardek-control.png vardek-control-en.png vardek-trend.png vardek-station.png \
    vardek-station-en.png; do
    committed=$(size "$src/docs/$picture")
    taken=$(size "$fresh/$picture")
    if [ "$committed" = "$taken" ]; then
        echo "check_screenshots: $picture is $taken, as in docs/"
    else
        echo "check_screenshots: $picture is $taken now, but $committed in docs/;" \
            "take it again with scripts/screenshot" >&2
        status=1
    fi
done
exit "$status"
