# The guard of the scripts that run a build's programs against a board they play or need none:
# those programs send to the address the build was configured with, and only loopback may be
# sent to from here.
# shellcheck shell=bash

# Stops the calling script unless BUILD's board address matches PATTERN (default 127.*, any
# loopback address); NAME starts the message.
# Usage: require_loopback_build NAME BUILD [PATTERN]
require_loopback_build() {
    local name=$1 build=$2 pattern=${3:-127.*} address
    address=$(sed -n 's/^VARDEK_BOARD_ADDRESS:[A-Z]*=//p' "$build/CMakeCache.txt")
    # shellcheck disable=SC2254  # the pattern is meant to match as a pattern
    case "$address" in
        $pattern) ;;
        *)
            echo "$name: $build sends to $address; use a build aimed at 127.0.0.1" >&2
            exit 1
            ;;
    esac
}
