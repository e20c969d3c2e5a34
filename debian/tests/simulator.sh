# Sourced by the tests: the installed simulator as a child of the test, stopped by its PID when
# the test exits, and the probe's session that the tests play against it.
# shellcheck shell=bash
set -euo pipefail

work=${AUTOPKGTEST_TMP:-$(mktemp -d)}
# No settings of the user running the tests: the programs read only what the tests give them.
export XDG_CONFIG_HOME=$work/config
simulator=

fail() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}

# Stops the simulator and waits for it to end; whatever it sent is in its capture by then.
stop_simulator() {
    if [ -n "$simulator" ]; then
        kill "$simulator" 2>/dev/null || true
        wait "$simulator" 2>/dev/null || true
        simulator=
    fi
}
trap stop_simulator EXIT

# shellcheck source=scripts/lib/simulator.sh
. scripts/lib/simulator.sh

# Waits until LOG holds a line matching PATTERN, while the simulator runs.
await() {
    await_log "$simulator" "$1" "$2" && return
    cat "$1" >&2
    fail "the simulator never logged: $2"
}

# Starts /usr/bin/vardek-board-sim on 127.0.0.1:PORT (0: one the system picks) with ARGS,
# logging to LOG, and sets $port to the port it listens on.
# Usage: start_simulator LOG PORT [ARGS...]
start_simulator() {
    local log=$1
    port=$2
    shift 2
    /usr/bin/vardek-board-sim --bind 127.0.0.1 --port "$port" "$@" >"$log" 2>&1 &
    simulator=$!
    await "$log" ' listening on 127\.0\.0\.1:[0-9]* '
    port=$(sed -n 's/.* listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$log" | head -n 1)
}

# The probe's requests, one run each, against the simulator on $port; their replies as printed,
# the round trip's time (which no two runs share) left out.
probe_session() {
    local command
    for command in status 'set RB5' 'read RA5' 'read RA0' 'clear RB5' status; do
        # shellcheck disable=SC2086  # the command's words
        /usr/bin/vardek-probe --board 127.0.0.1 --port "$port" $command
    done | sed 's/ ([0-9.]* ms)$//'
}
