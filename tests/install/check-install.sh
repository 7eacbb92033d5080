#!/usr/bin/env bash
# check-install.sh tree|package <build dir> <version>: what cmake --install or the .deb installs.
set -euo pipefail
shopt -s lastpipe # fail() in the last command of a pipeline counts

mode=${1:?mode} version=${3:?version} cmake=${CMAKE:-cmake} cpack=${CPACK:-cpack}
build=$(cd "${2:?build dir}" && pwd)
apps=share/pinglark/icons/hicolor/scalable/apps

# Everything installed, and nothing else (no tests, no demo server, no static libraries).
expected_files=(bin/pinglark share/applications/pinglark.desktop share/icons/hicolor/scalable/apps/pinglark.svg
    share/metainfo/io.github.veltrano.pinglark.metainfo.xml share/man/man1/pinglark.1.gz
    share/doc/pinglark/{changelog.gz,copyright}
    $apps/pinglark-{blank,blank_entry_icon,new_entry_icon,new_entry_icon_clicked,plinth_bar,plinth_bar_alt}.svg)

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT

check_file_list() {
    diff <(printf "$1%s\n" "${expected_files[@]}" | LC_ALL=C sort) - >&2 ||
        fail "installed files differ from the expected list"
}

# The validators pass, and the files name each other consistently.
check_desktop_files() {
    local root=$1 desktop=$1/share/applications/pinglark.desktop
    local metainfo=$1/share/metainfo/io.github.veltrano.pinglark.metainfo.xml report
    command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null ||
        { fail "desktop-file-validate or appstreamcli is missing (make deps)"; return; }
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects pinglark.desktop"
    report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) ||
        fail "appstreamcli rejects the metainfo"
    ! grep -E '^[EWI]:' <<<"$report" >&2 || fail "appstreamcli reports issues in the metainfo"

    local exec_line icon=$(sed -n 's/^Icon=//p' "$desktop")
    local launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    local binary=$(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo")
    # The entry's and each of its actions'.
    sed -n 's/^Exec=//p' "$desktop" | while read -r exec_line; do
        [ -x "$root/bin/${exec_line%% *}" ] || fail "Exec=$exec_line is not an installed program"
    done
    [ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon is not installed"
    [ -f "$root/share/applications/$launchable" ] || fail "the metainfo launches '$launchable'"
    [ -x "$root/bin/$binary" ] || fail "the metainfo provides '$binary', which is not installed"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo lists no $version"
}

check_tree() {
    "$cmake" --install "$build" --prefix "$scratch/root" >"$scratch/install.log" ||
        { cat "$scratch/install.log" >&2; fail "cmake --install failed"; return; }
    (cd "$scratch/root" && find . ! -type d | sed 's:^\./::' | LC_ALL=C sort) | check_file_list ""
    check_desktop_files "$scratch/root"
}

check_package() {
    for tool in dpkg-deb dpkg-shlibdeps readelf lintian "$cpack"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not available"; exit 77; }
    done
    (cd "$build" && "$cpack" --config CPackConfig.cmake -G DEB -B "$scratch/pkg") \
        >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; return; }

    local arch deb field value names want
    arch=$(dpkg --print-architecture)
    deb=$scratch/pkg/pinglark_${version}_$arch.deb
    [ "$(ls "$scratch"/pkg/*.deb)" = "$deb" ] ||
        { fail "expected one package ${deb##*/}, got: $(ls "$scratch"/pkg/*.deb)"; return; }
    for field in Package:pinglark Version:"$version" Architecture:"$arch" Section:net; do
        value=$(dpkg-deb -f "$deb" "${field%%:*}")
        [ "$value" = "${field#*:}" ] || fail "${field%%:*} is '$value', expected '${field#*:}'"
    done
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"

    # The libraries linked and the plugins Qt loads (xcb: libqt6gui6; SVG: libqt6svg6).
    names=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' | sed 's/(.*)//; s/:.*//; s/[[:space:]]//g; /^$/d')
    for want in libc6 libstdc++6 libexpat1 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
        libqt6svg6; do
        grep -qx "$want" <<<"$names" || fail "Depends lacks $want"
    done
    tr ',' '\n' <<<"$(dpkg-deb -f "$deb" Recommends)" | sed 's/(.*)//; s/[[:space:]]//g' |
        grep -qx qt6-wayland || fail "Recommends lacks qt6-wayland"
    ! grep -E -- '-dev$' <<<"$names" >&2 || fail "Depends names development packages"
    ! sort <<<"$names" | uniq -d | grep . >&2 || fail "Depends names a package twice"

    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's:^\./::' | LC_ALL=C sort |
        check_file_list "usr/"
    ! dpkg-deb -c "$deb" | awk '$2 != "root/root" || substr($1, 6, 1) == "w" ||
        substr($1, 9, 1) == "w"' | grep . >&2 || fail "entries not owned by root or writable by others"

    lintian --fail-on error,warning "$deb" >&2 || fail "lintian reports errors or warnings"

    dpkg-deb -x "$deb" "$scratch/unpacked"
    [[ $(zcat "$scratch/unpacked/usr/share/doc/pinglark/changelog.gz") == "pinglark ($version) "* ]] ||
        fail "the changelog's latest entry is not $version"
    check_desktop_files "$scratch/unpacked/usr"
    ! readelf -d "$scratch/unpacked/usr/bin/pinglark" | grep -E 'RPATH|RUNPATH' >&2 ||
        fail "the packaged binary carries a library search path"
}

case $mode in
    tree) check_tree ;;
    package) check_package ;;
    *) echo "unknown mode: $mode" >&2; exit 2 ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "OK: $mode"
