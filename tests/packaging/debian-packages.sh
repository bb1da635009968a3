#!/usr/bin/env bash
# The Debian packages as a site installs them: cpack builds them from the
# build folder, lintian finds no error and no warning beyond the ones kept in
# packaging/lintian-kept-tags (each with its reason), and dpkg -i installs
# them into a throw-away root whose package database is a copy of this
# machine's, so that every Depends must name a package that exists and is
# installed here. Then the installed programs run (fieldmon --version, with no
# display; fieldsim --check on every installed example; fieldmon-gateway
# --help and tshark with the dissector, when they are there), and
# desktop-file-validate and appstreamcli accept the desktop entry and the
# metainfo. Root is not needed: dpkg runs in a user namespace of its own. Skipped (77) only where dpkg or lintian is missing.
# Usage: debian-packages.sh BUILD_DIR SOURCE_DIR VERSION
set -uo pipefail
BUILD=$1 SOURCE=$2 VERSION=$3
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

skip() { echo "skipped: $*"; exit 77; }
for tool in dpkg dpkg-deb dpkg-shlibdeps lintian; do
    command -v $tool >/dev/null || skip "$tool is missing (tools/deps.sh installs dpkg-dev and lintian)"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d /tmp/fieldmon-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "== cpack"
if ! cpack --config "$BUILD/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack did not build the packages"
    exit 1
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
for package in fieldmon fieldsim; do
    [ -e "$work/out/${package}_${VERSION}-1_$(dpkg --print-architecture).deb" ] || fail "no $package package"
done
for deb in "${debs[@]}"; do
    echo "-- $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done

echo "== lintian"
kept=$(grep -oE '^[a-z0-9][a-z0-9.+-]+' "$SOURCE/packaging/lintian-kept-tags" | paste -sd, -)
lintian --fail-on error,warning --suppress-tags "$kept" --tag-display-limit 0 "${debs[@]}" >"$work/lintian.log" 2>&1 ||
    fail "lintian found errors or warnings (below)"
grep -v "running with root privileges" "$work/lintian.log"

echo "== dpkg -i into a throw-away root"
root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
cp /var/lib/dpkg/status "$admin/status"
touch "$admin/available"
# Empty file lists, so that dpkg does not warn about every package of the copy.
dpkg-query -W -f '${binary:Package}\n' | while read -r p; do : >"$admin/info/$p.list"; done
install_cmd=(env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
             dpkg --root="$root" --no-triggers --force-unsafe-io -i "${debs[@]}")
[ "$(id -u)" -eq 0 ] || install_cmd=(unshare --user --map-root-user "${install_cmd[@]}")
if ! "${install_cmd[@]}" >"$work/dpkg.log" 2>&1; then
    cat "$work/dpkg.log"
    fail "dpkg -i did not install the packages"
fi

echo "== the installed programs and files"
usr=$root/usr
version=$("$usr/bin/fieldmon" --version 2>&1) || fail "fieldmon --version: $version"
[ "$version" = "fieldmon $VERSION" ] || fail "fieldmon --version said '$version'"
examples=("$usr"/share/fieldmon/examples/*/*.json)
[ ${#examples[@]} -ge 3 ] || fail "the examples are not in share/fieldmon/examples"
for example in "${examples[@]}"; do
    "$usr/bin/fieldsim" --check "$example" >"$work/check.log" 2>&1 ||
        fail "fieldsim --check $example: $(cat "$work/check.log")"
done
if [ -e "$usr/bin/fieldmon-gateway" ]; then
    "$usr/bin/fieldmon-gateway" --help >/dev/null 2>&1 || fail "fieldmon-gateway --help did not exit 0"
fi
for dissector in "$usr"/lib/*/wireshark/plugins/fieldmon.lua; do
    if command -v tshark >/dev/null; then
        tshark -G protocols -X "lua_script:$dissector" 2>/dev/null | grep -qiw fieldmon ||
            fail "tshark did not load the installed dissector"
    fi
done
for desktop in "$usr"/share/applications/*.desktop; do
    out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    for size in 16x16 32x32 48x48 256x256 scalable; do
        compgen -G "$usr/share/icons/hicolor/$size/apps/$icon.*" >/dev/null || fail "no $size icon named $icon"
    done
done
for metainfo in "$usr"/share/metainfo/*.xml; do
    out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
done
zcat "$usr/share/man/man1/fieldmon.1.gz" | grep -q -- 'automation' || fail "no manual page of fieldmon"

[ $failures -eq 0 ] && echo "the packages build, pass lintian, install and run"
[ $failures -eq 0 ]
