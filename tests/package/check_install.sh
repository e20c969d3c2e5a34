#!/usr/bin/env bash
# Installs the package for real with apt-get, starts the installed VARDEK_Control on a private
# Xvfb against the installed simulator on 127.0.0.1:10001 and waits for the window's first status
# request in the simulator's log; then purges the package and checks that none of its files is
# left. It changes the machine, so it runs in CI only (CI=true), as root.
# Usage: check_install.sh DEB
set -euo pipefail

fail() {
    echo "check_install: $*" >&2
    exit 1
}

if [ "${CI:-}" != true ]; then
    echo "check_install: installs system-wide, so it runs only in CI (CI=true); skipped"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || fail "installing needs root"
deb=$(realpath "$1")
here=$(cd "$(dirname "$0")/.." && pwd)

installed() {
    dpkg-query -W -f='${Status}' vardek-control 2>/dev/null | grep -q 'ok installed'
}
installed && fail "vardek-control is installed already"

export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -q -o DPkg::Lock::Timeout=600)
"${apt[@]}" install "$deb"
installed || fail "apt-get did not install vardek-control"
mapfile -t files < <(dpkg-query -L vardek-control | while read -r path; do
    [ -d "$path" ] || echo "$path"
done)
echo "check_install: installed ${#files[@]} files"

# The window runs on a private Xvfb (display.sh, which stops it on exit) and, like the
# simulator, as a child of this script, so each is stopped by its own PID.
# shellcheck source=scripts/lib/display.sh
. "$here/../scripts/lib/display.sh"
work=$display_work
simulator=
window=
cleanup() {
    for pid in $window $simulator; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    display_stop
}
trap cleanup EXIT

# Waits until the simulator's log holds a line matching the pattern.
await() {
    await_log "$simulator" "$work/sim.log" "$1" && return
    cat "$work/sim.log" >&2
    fail "the simulator never logged: $1"
}

/usr/bin/vardek-board-sim --bind 127.0.0.1 --port 10001 >"$work/sim.log" 2>&1 &
simulator=$!
# shellcheck source=scripts/lib/simulator.sh
. "$here/../scripts/lib/simulator.sh"
await_simulator "$simulator" "$work/sim.log" || fail "the simulator did not start: $(cat "$work/sim.log")"
display_start_xvfb
# Qt wants a private runtime folder; as root it has none and warns on every start.
XDG_RUNTIME_DIR=$display_work QT_QPA_PLATFORM=xcb /usr/bin/VARDEK_Control &
window=$!
await '\] 000 | status'
grep -E 'listening on|\] 000 \| status' "$work/sim.log" | head -n 2
kill -TERM "$window" || fail "the installed VARDEK_Control was not running"
wait "$window" || fail "the installed VARDEK_Control did not end cleanly"
window=
kill "$simulator"
wait "$simulator" || fail "the installed simulator did not end cleanly"
simulator=

"${apt[@]}" purge vardek-control
installed && fail "vardek-control is still installed"
status=$(dpkg-query -W -f='${Status}' vardek-control 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] ||
    fail "vardek-control is not purged: $status"
for file in "${files[@]}"; do
    [ ! -e "$file" ] || fail "$file is left after purging the package"
done
echo "check_install: installed, ran and purged; no file left"
