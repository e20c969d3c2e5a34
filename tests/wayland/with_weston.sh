#!/usr/bin/env bash
# Runs a command as a client of a private weston compositor on its headless backend, which has
# no screen and no input devices, so it activates no window. Stops the compositor when the
# command ends. Qt uses its wayland platform there.
# Usage: with_weston.sh COMMAND [ARGUMENT...]
set -euo pipefail
# shellcheck source=tests/display/display.sh
. "$(dirname "$0")/../display/display.sh"

display_start_weston
status=0
QT_QPA_PLATFORM=wayland "$@" || status=$?
exit "$status"
