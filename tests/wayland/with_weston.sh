#!/usr/bin/env bash
# Runs a command as a client of a private weston compositor on its headless backend, which has
# no screen and no input devices, so it activates no window. Stops the compositor when the
# command ends. Qt uses its wayland platform there.
# Usage: with_weston.sh COMMAND [ARGUMENT...]
set -euo pipefail

# Private and mode 0700, as a Wayland runtime directory must be.
runtime=$(mktemp -d)
weston_pid=
cleanup() {
    if [ -n "$weston_pid" ]; then
        kill "$weston_pid" 2>/dev/null || true
        wait "$weston_pid" 2>/dev/null || true
    fi
    rm -rf "$runtime"
}
trap cleanup EXIT

socket=wayland-vardek
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --socket="$socket" \
    --idle-time=0 >"$runtime/weston.log" 2>&1 &
weston_pid=$!
# The socket appears once the compositor accepts clients.
for _ in $(seq 200); do
    if [ -S "$runtime/$socket" ] || ! kill -0 "$weston_pid" 2>/dev/null; then
        break
    fi
    sleep 0.05
done
if [ ! -S "$runtime/$socket" ]; then
    echo "with_weston: weston did not start" >&2
    cat "$runtime/weston.log" >&2
    exit 1
fi

status=0
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
    "$@" || status=$?
exit "$status"
