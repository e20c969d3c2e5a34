#!/usr/bin/env bash
# Runs a command against a private Xvfb server, on the first free display and with no window
# manager, and stops the server when the command ends. Qt uses its xcb platform there.
# Usage: with_xvfb.sh COMMAND [ARGUMENT...]
set -euo pipefail

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes the display number it took to fd 3 once it accepts clients.
Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
    if grep -q . "$work/display" 2>/dev/null; then
        break
    fi
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        break
    fi
    sleep 0.05
done
display=$(head -n 1 "$work/display")
if [ -z "$display" ]; then
    echo "with_xvfb: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi

status=0
env DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
