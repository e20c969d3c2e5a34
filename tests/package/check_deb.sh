#!/usr/bin/env bash
# Builds the Debian package from a finished build tree, unpacks it into a scratch root and checks
# its name, version, dependencies and files.
# Usage: check_deb.sh CPACK BUILD_DIR VERSION
set -euo pipefail

cpack=$1
build=$2
version=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "check_deb: $*" >&2
    exit 1
}

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack failed"
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = vardek-control ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "wrong version: $(dpkg-deb -f "$deb" Version)"

# Depends lists packages separated by commas, each perhaps with a version constraint.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins fonts-ipafont-gothic; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"

for program in VARDEK_Control vardek-board-sim vardek-probe; do
    [ -f "$root/usr/bin/$program" ] && [ -x "$root/usr/bin/$program" ] ||
        fail "usr/bin/$program missing or not executable"
done
"$root/usr/bin/vardek-board-sim" --help >/dev/null || fail "the packaged simulator does not run"
[ "$("$root/usr/bin/vardek-probe" --version)" = "vardek-probe $version" ] ||
    fail "the packaged probe does not give its version"

desktops=("$root"/usr/share/applications/*.desktop)
[ -f "${desktops[0]}" ] || fail "no usr/share/applications/*.desktop"
icons=("$root"/usr/share/icons/hicolor/32x32/apps/*)
[ -f "${icons[0]}" ] || fail "no icon in usr/share/icons/hicolor/32x32/apps"

# The menu entry must start the packaged program and name an icon that the package installs.
for desktop in "${desktops[@]}"; do
    grep -Eq '^Exec=(/usr/bin/)?VARDEK_Control( |$)' "$desktop" ||
        fail "$(basename "$desktop") does not start VARDEK_Control"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    found=no
    for file in "${icons[@]}"; do
        name=$(basename "$file")
        [ "${name%.*}" = "$icon" ] && found=yes
    done
    [ $found = yes ] || fail "$(basename "$desktop") names icon '$icon', which is not installed"
done

echo "check_deb: $(basename "$deb") is complete"
