#!/usr/bin/env bash
# Installs a finished build tree into a staging folder, as `cmake --install` and the package do,
# and judges what a desktop and a software centre read: every program with its manual page, each
# desktop entry starting an installed program and naming icons installed at each size, AppStream
# metadata launching each entry, both valid for desktop-file-validate and appstreamcli.
# Usage: check_installed_files.sh BUILD_DIR
set -euo pipefail

build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

fail() {
    echo "check_installed_files: $*" >&2
    exit 1
}

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null || fail "cmake --install failed"

for program in VARDEK_Control vardek-board-sim vardek-probe vardek-trend vardek-station; do
    [ -f "$root/usr/bin/$program" ] && [ -x "$root/usr/bin/$program" ] ||
        fail "usr/bin/$program missing or not executable"
    page="$root/usr/share/man/man1/$program.1.gz"
    [ -f "$page" ] || fail "no manual page $program(1)"
    zcat "$page" | grep -q '^\.TH .*@' && fail "$program(1) has an unfilled @...@ in its header"
done

desktops=("$root"/usr/share/applications/*.desktop)
[ -f "${desktops[0]}" ] || fail "no usr/share/applications/*.desktop"
metainfos=("$root"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfos[0]}" ] || fail "no usr/share/metainfo/*.metainfo.xml"

for desktop in "${desktops[@]}"; do
    name=$(basename "$desktop")
    desktop-file-validate "$desktop" || fail "$name is not a valid desktop entry"
    program=$(sed -n 's|^Exec=\(/usr/bin/\)\{0,1\}\([^ ]*\).*|\2|p' "$desktop")
    [ -n "$program" ] && [ -x "$root/usr/bin/$program" ] ||
        fail "$name starts '$program', which is not installed"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    for size in 32 64 128; do
        png="$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png"
        [ -f "$png" ] || fail "$name names icon '$icon', which is not installed at ${size}x$size"
    done
    grep -qF "<launchable type=\"desktop-id\">$name</launchable>" "${metainfos[@]}" ||
        fail "no AppStream metadata launches $name"
done
for metainfo in "${metainfos[@]}"; do
    appstreamcli validate --no-net "$metainfo" ||
        fail "$(basename "$metainfo") is not valid AppStream metadata"
done

echo "check_installed_files: programs, manual pages, desktop entry, icons and metadata in place and valid"
