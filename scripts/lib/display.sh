# Private display servers, sourced by scripts/run and by the tests (with_xvfb.sh, with_weston.sh,
# check_install.sh). Each server is waited for by its own sign of readiness, never for a set time
# (the caller's timeout bounds a slow start), and everything started here is stopped when the
# sourcing script exits.
# shellcheck shell=bash

display_work=$(mktemp -d)  # private and mode 0700, as a Wayland runtime directory must be
display_pids=()
# Each server runs in a session of its own, so stopping its process group also stops what it
# started (weston's shell client). One that has not ended a few seconds after SIGTERM is killed:
# a server stuck in its shutdown must not hold its caller until a timeout. Only a server still
# there is waited for (see display_reap).
display_stop() {
    local pid
    for pid in "${display_pids[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL -- "-$pid" 2>/dev/null || true
        display_reap "$pid"
    done
    display_pids=()
    rm -rf "$display_work"
}

# Waits for the child PID to end, if it is still there, alive or not yet reaped. A child that
# ended just as a trapped signal cut a `wait` short has been reaped by bash without bash noting
# it, and `wait` for it would wait until every other child has ended (for ever, while a display
# server runs): such a child is gone, so it is not waited for.
# Usage: display_reap PID
display_reap() {
    if kill -0 "$1" 2>/dev/null; then
        wait "$1" 2>/dev/null || true
    fi
}
trap display_stop EXIT

# Starts COMMAND, logging to NAME.log, and waits until `test TEST PATH` holds.
# Usage: display_start NAME TEST PATH COMMAND...
display_start() {
    local name=$1 ready=("$2" "$3")
    shift 3
    setsid "$@" >"$display_work/$name.log" 2>&1 &
    display_pids=("$!" "${display_pids[@]}")
    until test "${ready[@]}"; do
        if ! kill -0 "${display_pids[0]}" 2>/dev/null && ! test "${ready[@]}"; then
            echo "$name did not start" >&2
            cat "$display_work/$name.log" >&2
            exit 1
        fi
        sleep 0.02
    done
}

# Xvfb writes the display it took to -displayfd once it accepts clients. SIZE is the screen's,
# 800x600 unless given.
# Usage: display_start_xvfb [SIZE]
display_start_xvfb() {
    display_start Xvfb -s "$display_work/display" \
        Xvfb -displayfd 3 -nolisten tcp -screen 0 "${1:-800x600}x24" 3>"$display_work/display"
    DISPLAY=":$(head -n 1 "$display_work/display")"
    export DISPLAY
}

# Openbox runs its --startup command once it manages the screen.
display_start_openbox() {
    display_start openbox -e "$display_work/openbox-ready" \
        openbox --sm-disable --startup "touch $display_work/openbox-ready"
}

# Weston's headless backend has no screen and no input devices, so it activates no window; the
# socket appears once the compositor accepts clients.
display_start_weston() {
    export XDG_RUNTIME_DIR=$display_work WAYLAND_DISPLAY=wayland-vardek
    unset DISPLAY
    display_start weston -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" \
        weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0
}
