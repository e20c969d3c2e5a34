# Waiting for a board simulator that a script started, by what it logs: its first line says that
# it listens, or why it does not, and later lines show what it was sent.
# shellcheck shell=bash

# Waits until LOG, where the simulator PID writes its log, holds a line matching PATTERN (a grep
# basic expression); fails at once if PID ends first, and after a minute, far beyond any start or
# answer on loopback, so that no script hangs on a simulator that logs nothing.
# Usage: await_log PID LOG PATTERN
await_log() {
    local pid=$1 log=$2 pattern=$3
    for _ in $(seq 1200); do
        grep -q -- "$pattern" "$log" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    grep -q -- "$pattern" "$log" 2>/dev/null
}

# Waits until the simulator PID has logged to LOG that it listens.
# Usage: await_simulator PID LOG
await_simulator() {
    await_log "$1" "$2" ' listening on '
}
