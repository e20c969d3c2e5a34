#!/usr/bin/env bash
# Judges the package dpkg-buildpackage made, as Debian's own tools do: lintian, pedantic and with
# informational tags, finds no error, no warning and no hardening tag; hardening-check finds every
# protection in each program; the package has its name, version and dependencies, its programs
# run and give that version, and the dissector lies where this machine's Wireshark reads global
# Lua plugins.
# Usage: check_deb.sh CHANGES   (the .changes file dpkg-buildpackage wrote beside the package)
set -euo pipefail

changes=$1
here=$(dirname "$changes")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "check_deb: $*" >&2
    exit 1
}

[ -f "$changes" ] || fail "no $changes"
version=$(sed -n 's/^Version: //p' "$changes")
# The Files: field lists what the build made, one file a line after the checksum, size, section
# and priority.
deb=$(awk '/^Files:/ { files = 1; next } files && /^ / { print $5; next } { files = 0 }' "$changes" |
    grep '^vardek-control_.*\.deb$') || fail "$changes lists no vardek-control .deb"
deb="$here/$deb"

[ "$(dpkg-deb -f "$deb" Package)" = vardek-control ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "wrong version: $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6 qt6-qpa-plugins fonts-ipafont-gothic; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for program in vardek-probe vardek-trend vardek-station vardek-board-sim; do
    [ "$("$root/usr/bin/$program" --version)" = "$program $version" ] ||
        fail "the packaged $program does not give the package's version"
done
for file in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/vardek-control/$file" ] || fail "no usr/share/doc/vardek-control/$file"
done
lua_dir=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
[ -n "$lua_dir" ] || fail "tshark names no global Lua plugin folder"
[ -f "$root$lua_dir/vardek.lua" ] || fail "no vardek.lua in Wireshark's Lua plugin folder $lua_dir"

# The programs are built with -fcf-protection, but a program has the marker only when every
# object linked into it has: Debian 12's C library start files (Scrt1.o) lack it, so there that
# line cannot pass, and forcing the marker would claim a protection the start files do not have.
# Wherever they carry it, the line is required too.
cf=()
readelf -n "$(gcc -print-file-name=Scrt1.o)" | grep -q 'x86 feature: .*IBT.*SHSTK' ||
    cf=(--nocfprotection)
hardening-check "${cf[@]}" "$root"/usr/bin/* || fail "a program lacks a protection"

lintian --pedantic --display-info --fail-on error,warning "$changes" | tee "$work/lintian" ||
    fail "lintian finds errors or warnings"
! grep -E '^[EWIPX]: .* hardening-' "$work/lintian" || fail "lintian finds a program not hardened"

echo "check_deb: $(basename "$deb") is complete, hardened and lintian-clean"
