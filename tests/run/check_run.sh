#!/usr/bin/env bash
# scripts/run on a private Xvfb: the simulator's log shows the program's first status request,
# and both processes are gone once the program ends or the script is interrupted.
# Usage: check_run.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

src=$1
build=$2
address=$(sed -n 's/^VARDEK_BOARD_ADDRESS:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$address" in
    127.*) ;;
    *)
        echo "check_run: this build talks to $address, not to the simulator; skipped"
        exit 77
        ;;
esac

program="$build/app/VARDEK_Control"
simulator="$build/tools/board-sim/vardek-board-sim --bind 127.0.0.1 --port 10001"
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

# Starts scripts/run and waits for the simulator to log the program's status request.
start() {
    : >"$log"
    "$src/tests/xvfb/with_xvfb.sh" "$src/scripts/run" "$build" >"$log" 2>&1 &
    runner=$!
    for _ in $(seq 300); do
        if grep -q '\] 000 | status' "$log"; then
            grep -E 'listening on|\] 000 \| status' "$log" | head -n 2
            return
        fi
        kill -0 "$runner" 2>/dev/null || fail "scripts/run ended early"
        sleep 0.1
    done
    fail "no status request reached the simulator"
}

# Waits for scripts/run to end and checks that it left nothing running.
finished() {
    local status=0
    wait "$runner" || status=$?
    runner=
    pgrep -f "^$program\$" >/dev/null && fail "VARDEK_Control still runs"
    pgrep -f "^$simulator\$" >/dev/null && fail "the simulator still runs"
    echo "scripts/run ended with status $status; nothing left running"
}

echo "- the program ends"
start
pkill -TERM -f "^$program\$" || fail "VARDEK_Control was not running"
finished

echo "- the script is interrupted"
start
pkill -TERM -f "^bash $src/scripts/run $build\$" || pkill -TERM -f "$src/scripts/run $build" ||
    fail "scripts/run was not running"
finished
