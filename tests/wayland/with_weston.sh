#!/usr/bin/env bash
# Runs a command as a client of a private weston compositor on its headless backend, which has
# no screen and no input devices, so it activates no window. Stops the compositor when the
# command ends. Qt uses its wayland platform there.
# Usage: with_weston.sh COMMAND [ARGUMENT...]
set -euo pipefail
# shellcheck source=scripts/lib/display.sh
. "$(dirname "$0")/../../scripts/lib/display.sh"

display_start_weston
# The headless compositor has no GPU, so windows draw into shared memory whatever Qt picks; name
# no hardware buffer integration, so Qt does not load Mesa's EGL driver only to unload it at exit,
# where LeakSanitizer finds the driver's allocations in a module it can no longer name (and so
# cannot suppress).
status=0
QT_QPA_PLATFORM=wayland QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none "$@" || status=$?
exit "$status"
