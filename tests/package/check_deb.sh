#!/usr/bin/env bash
# Builds the Debian package from a finished build tree and judges it as Debian's own tools do:
# its name, version and dependencies, the files it must hold (other files may join them), its
# desktop entry and AppStream metadata, and lintian with warnings counted as failures.
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

for tool in lintian appstreamcli desktop-file-validate; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done

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
    [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page $program(1)"
done
"$root/usr/bin/vardek-board-sim" --help >/dev/null || fail "the packaged simulator does not run"
for file in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/vardek-control/$file" ] || fail "no usr/share/doc/vardek-control/$file"
done
[ "$("$root/usr/bin/vardek-probe" --version)" = "vardek-probe $version" ] ||
    fail "the packaged probe does not give its version"

# The dissector goes where this machine's Wireshark looks for global Lua plugins.
lua_dir=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
[ -f "$root$lua_dir/vardek.lua" ] || fail "no vardek.lua in Wireshark's Lua plugin folder $lua_dir"

desktops=("$root"/usr/share/applications/*.desktop)
[ -f "${desktops[0]}" ] || fail "no usr/share/applications/*.desktop"
metainfos=("$root"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfos[0]}" ] || fail "no usr/share/metainfo/*.metainfo.xml"

# Every desktop entry starts the packaged program, names an icon the package installs at each
# size, and is the one a metadata file launches.
for desktop in "${desktops[@]}"; do
    name=$(basename "$desktop")
    desktop-file-validate "$desktop" || fail "$name is not a valid desktop entry"
    grep -Eq '^Exec=(/usr/bin/)?VARDEK_Control( |$)' "$desktop" || fail "$name does not start VARDEK_Control"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    for size in 32 64 128; do
        png="$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png"
        file "$png" 2>/dev/null | grep -q "PNG image data, $size x $size" ||
            fail "$name names icon '$icon', which is not installed at ${size}x$size"
    done
    grep -qF "<launchable type=\"desktop-id\">$name</launchable>" "${metainfos[@]}" ||
        fail "no AppStream metadata launches $name"
done
for metainfo in "${metainfos[@]}"; do
    appstreamcli validate --no-net "$metainfo" ||
        fail "$(basename "$metainfo") is not valid AppStream metadata"
done

lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings"

echo "check_deb: $(basename "$deb") is complete, valid and lintian-clean"
