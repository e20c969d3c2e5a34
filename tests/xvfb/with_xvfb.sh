#!/usr/bin/env bash
# Runs a command against a private Xvfb server, on the first free display and with no window
# manager unless --openbox asks for one, and stops both when the command ends. Qt uses its xcb
# platform there.
# Usage: with_xvfb.sh [--openbox] COMMAND [ARGUMENT...]
set -euo pipefail
# shellcheck source=scripts/lib/display.sh
. "$(dirname "$0")/../../scripts/lib/display.sh"

display_start_xvfb
if [ "${1:-}" = --openbox ]; then
    shift
    display_start_openbox
fi
# Qt wants a private runtime folder; without one (as root, say) it warns on every start.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$display_work}
status=0
QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
