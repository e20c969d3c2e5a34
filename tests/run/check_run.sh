#!/usr/bin/env bash
# The README's run command as a user gives it, `xvfb-run -a scripts/run` in the source tree: it
# builds what it runs, the simulator's log shows the window's first status request, and both
# processes are gone once the window is closed (status 0) or the script is stopped (status 143).
# It needs port 10001 on 127.0.0.1 and builds into SOURCE_DIR/build/run.
# Usage: check_run.sh SOURCE_DIR
set -euo pipefail

src=$(cd "$1" && pwd)
program="$src/build/run/app/VARDEK_Control"
simulator="$src/build/run/tools/board-sim/vardek-board-sim --bind 127.0.0.1 --port 10001"
log=$(mktemp)
runner=
cleanup() {
    [ -z "$runner" ] || kill "$runner" 2>/dev/null || true
    pkill -f "^$program\$" 2>/dev/null || true
    pkill -f "^$simulator\$" 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT

fail() {
    echo "check_run: $1" >&2
    echo "--- output of scripts/run ---" >&2
    cat "$log" >&2
    exit 1
}

# Starts scripts/run and waits (through set-up and build, the first time) for the simulator to
# log the window's status request.
start() {
    : >"$log"
    (cd "$src" && exec xvfb-run -a scripts/run) >"$log" 2>&1 &
    runner=$!
    for _ in $(seq 6000); do
        if grep -q '\] 000 | status' "$log"; then
            grep -E 'listening on|\] 000 \| status' "$log" | head -n 2
            return
        fi
        kill -0 "$runner" 2>/dev/null || fail "scripts/run ended early"
        sleep 0.2
    done
    fail "no status request reached the simulator"
}

# Waits for scripts/run to end with the status expected and checks that it left nothing running.
finished() {
    local expected=$1 status=0
    wait "$runner" || status=$?
    runner=
    pgrep -f "^$program\$" >/dev/null && fail "VARDEK_Control still runs"
    pgrep -f "^$simulator\$" >/dev/null && fail "the simulator still runs"
    [ "$status" -eq "$expected" ] || fail "scripts/run ended with status $status, not $expected"
    echo "scripts/run ended with status $status; nothing left running"
}

echo "- the window is closed"
start
pkill -TERM -f "^$program\$" || fail "VARDEK_Control was not running"
finished 0

echo "- the script is stopped"
start
script=$(ps -o ppid= -p "$(pgrep -f "^$program\$")") || fail "VARDEK_Control was not running"
kill -TERM $script
finished 143
