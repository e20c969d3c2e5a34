#!/usr/bin/env bash
# Runs a test that needs tools a build machine may lack (Xvfb, openbox, weston, tshark, the
# desktop-file and AppStream validators). When one is not on PATH, it names what is missing and
# exits 77, which CTest reports as skipped (SKIP_RETURN_CODE), so a packager's build passes
# without them; with VARDEK_REQUIRE_ALL_TOOLS=1, as CI sets it, the test fails instead.
# Usage: optional_tools.sh TOOL... -- COMMAND [ARGUMENT...]
set -euo pipefail

missing=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    command -v "$1" >/dev/null || missing+=("$1")
    shift
done
[ $# -gt 1 ] || {
    echo "usage: optional_tools.sh TOOL... -- COMMAND [ARGUMENT...]" >&2
    exit 2
}
shift

if [ ${#missing[@]} -gt 0 ]; then
    if [ "${VARDEK_REQUIRE_ALL_TOOLS:-}" = 1 ]; then
        echo "optional_tools: ${missing[*]} not installed, and VARDEK_REQUIRE_ALL_TOOLS=1" \
            "requires every tool (scripts/setup installs them)" >&2
        exit 1
    fi
    echo "optional_tools: skipped: ${missing[*]} not installed"
    exit 77
fi
exec "$@"
