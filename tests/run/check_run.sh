#!/usr/bin/env bash
# The README's run command as a user gives it, `scripts/run` in the source tree, without a
# display and with one: it builds what it runs and says once where the programs are, the
# simulator's log shows the window's first status request, no Qt warning appears although
# XDG_RUNTIME_DIR is unset, and nothing it started is left running once the window is closed
# (status 0), the script is stopped (143) or Ctrl-C reaches its process group (130), also when
# it was started as a script's background job, with SIGINT ignored. The window never reports a
# broken X connection: it ends before the virtual X server.
# Each scripts/run starts in a session of its own, so its process group holds everything it
# started but its virtual X server, which has a session of its own; the check looks for
# leftovers there and stops that group and that server at the end.
# It needs port 10001 on 127.0.0.1 and builds into SOURCE_DIR/build/run.
# Usage: check_run.sh SOURCE_DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$1" && pwd)
log=$(mktemp)
runner=
xvfb=
cleanup() {
    [ -z "$runner" ] || kill -KILL -- "-$runner" 2>/dev/null || true
    [ -z "$xvfb" ] || kill -KILL "$xvfb" 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT

fail() {
    echo "check_run: $1" >&2
    echo "--- output of scripts/run ---" >&2
    cat "$log" >&2
    exit 1
}

# The process of scripts/run's group named $1, if there is one.
member() {
    ps -eo pid=,pgid=,comm= | awk -v group="$runner" -v name="$1" \
        '$2 == group && $3 == name { print $1; exit }'
}

# Starts scripts/run as the leader of a new session and process group, with env's options $@,
# and waits (through set-up and build, the first time) for the simulator to log the window's
# status request.
start() {
    : >"$log"
    (cd "$src" && exec env -u XDG_RUNTIME_DIR "$@" setsid scripts/run) >"$log" 2>&1 &
    runner=$!
    for _ in $(seq 6000); do
        if grep -q '\] 000 | status' "$log"; then
            grep -E 'listening on|\] 000 \| status' "$log" | head -n 2
            xvfb=$(ps -eo pid=,ppid=,comm= | awk -v parent="$runner" \
                '$2 == parent && $3 == "Xvfb" { print $1; exit }')
            return
        fi
        kill -0 "$runner" 2>/dev/null || fail "scripts/run ended early"
        sleep 0.2
    done
    fail "no status request reached the simulator"
}

# Waits for scripts/run to end with the status expected, then checks its output and that its
# process group is empty.
finished() {
    local expected=$1 status=0
    # Bounded, so that a script that hangs in its clean-up fails here, showing what it waits for.
    if ! timeout 120 tail --pid="$runner" -f /dev/null; then
        ps -eo pid=,pgid=,args= | awk -v group="$runner" -v xvfb="$xvfb" \
            '$2 == group || $1 == xvfb' >&2
        fail "scripts/run did not end within 120 s; above, what was still running"
    fi
    wait "$runner" || status=$?
    if kill -0 -- "-$runner" 2>/dev/null; then
        ps -eo pid=,pgid=,args= | awk -v group="$runner" '$2 == group' >&2
        fail "scripts/run left the processes above running"
    fi
    if [ -n "$xvfb" ] && kill -0 "$xvfb" 2>/dev/null; then
        fail "scripts/run left its virtual X server (Xvfb, $xvfb) running"
    fi
    runner=
    xvfb=
    [ "$status" -eq "$expected" ] || fail "scripts/run ended with status $status, not $expected"
    [ "$(grep -c '^run: VARDEK_Control, vardek-board-sim, vardek-probe and vardek-trend are in build/run/bin$' \
        "$log")" -eq 1 ] || fail "scripts/run did not say once where the programs are"
    for program in VARDEK_Control vardek-board-sim vardek-probe vardek-trend; do
        [ -x "$src/build/run/bin/$program" ] || fail "build/run/bin/$program is missing"
    done
    ! grep -q XDG_RUNTIME_DIR "$log" || fail "a warning about XDG_RUNTIME_DIR"
    ! grep -q 'X11 connection broke' "$log" || fail "the window lost its X server before it ended"
    echo "scripts/run ended with status $status; nothing left running"
}

if [ "${2:-}" != --display ]; then
    unset DISPLAY WAYLAND_DISPLAY

    echo "- no display: the window is closed"
    start
    [ "$(grep -c '^run: no display: ' "$log")" -eq 1 ] || fail "it did not say once it has no display"
    window=$(member VARDEK_Control)
    [ -n "$window" ] || fail "VARDEK_Control is not running"
    kill -TERM "$window"
    finished 0

    echo "- no display: Ctrl-C"
    start
    [ -n "$xvfb" ] || fail "no virtual X server of scripts/run's"
    kill -INT -- "-$runner"
    finished 130

    echo "- no display, started as a script's background job (SIGINT ignored): Ctrl-C"
    start --ignore-signal=INT
    kill -INT -- "-$runner"
    finished 130

    # Once more on a display of its own, from a private Xvfb.
    cleanup
    trap - EXIT
    exec "$here/../xvfb/with_xvfb.sh" "$0" "$src" --display
fi

echo "- on display $DISPLAY: the script is stopped"
start
! grep -q '^run: no display' "$log" || fail "it started a virtual X server of its own"
kill -TERM "$runner"
finished 143
