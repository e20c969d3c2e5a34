#!/usr/bin/env bash
# Runs the package's own tests (debian/tests) as Debian's CI does, on the installed package:
# `autopkgtest CHANGES -- null`, from the source tree, which holds the tests. autopkgtest
# installs the package and the tests' dependencies on this machine and leaves them there, so it
# runs in CI only (CI=true), as root, and the package is purged again afterwards. Every test must
# pass: a skipped one fails here, as CI never skips silently.
# Usage: check_autopkgtest.sh CHANGES
set -euo pipefail

fail() {
    echo "check_autopkgtest: $*" >&2
    exit 1
}

if [ "${CI:-}" != true ]; then
    echo "check_autopkgtest: installs system-wide, so it runs only in CI (CI=true); skipped"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || fail "installing needs root"
changes=$(realpath "$1")
cd "$(dirname "$0")/../.."

installed() {
    dpkg-query -W -f='${Status}' vardek-control 2>/dev/null | grep -q 'ok installed'
}
installed && fail "vardek-control is installed already"
purge() {
    if installed; then
        DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600 \
            purge vardek-control
    fi
}
trap purge EXIT

status=0
autopkgtest "$changes" -- null || status=$?
# 0: every test passed; 2: some were skipped, 4 and up: failed or could not run.
case $status in
    0) echo "check_autopkgtest: every test of debian/tests passed on the installed package" ;;
    2) fail "autopkgtest skipped a test" ;;
    *) fail "autopkgtest failed with status $status" ;;
esac
