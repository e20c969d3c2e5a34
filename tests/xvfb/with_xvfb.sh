#!/usr/bin/env bash
# Runs a command against a private Xvfb server, on the first free display and with no window
# manager unless --openbox asks for one, and stops both when the command ends. Qt uses its xcb
# platform there.
# Usage: with_xvfb.sh [--openbox] COMMAND [ARGUMENT...]
set -euo pipefail

window_manager=
if [ "${1:-}" = --openbox ]; then
    window_manager=openbox
    shift
fi

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    for pid in $wm_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Qt wants a private runtime folder; without one (as root, say) it warns on every start.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
fi

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

if [ -n "$window_manager" ]; then
    # Openbox runs its --startup command once it manages the screen.
    DISPLAY=":$display" openbox --sm-disable --startup "touch $work/wm-ready" \
        >"$work/wm.log" 2>&1 &
    wm_pid=$!
    for _ in $(seq 200); do
        if [ -e "$work/wm-ready" ] || ! kill -0 "$wm_pid" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    if [ ! -e "$work/wm-ready" ]; then
        echo "with_xvfb: openbox did not start" >&2
        cat "$work/wm.log" >&2
        exit 1
    fi
fi

status=0
env DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
