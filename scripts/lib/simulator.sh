# Waiting for a board simulator that a script started: its first log line says that it listens,
# or why it does not. No set time: a slow start is bounded by the caller's own timeout.
# shellcheck shell=bash

# Waits until LOG, where the simulator PID writes its log, holds its "listening on" line; fails
# at once if PID ends first.
# Usage: await_simulator PID LOG
await_simulator() {
    until grep -q ' listening on ' "$2" 2>/dev/null; do
        kill -0 "$1" 2>/dev/null || grep -q ' listening on ' "$2" 2>/dev/null || return 1
        sleep 0.05
    done
}
