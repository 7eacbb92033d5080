#!/usr/bin/env bash
# Checks what a build installs, as a desktop and as dpkg see it.
#
#   check-install.sh tree    <build dir> <version>   cmake --install into a scratch prefix
#   check-install.sh package <build dir> <version>   cpack -G DEB into a scratch folder
#
# CMAKE and CPACK name the tools (default: the ones on PATH). The package check exits 77 (skipped)
# when dpkg-deb or dpkg-shlibdeps is missing.
set -euo pipefail

mode=${1:?mode}
build=$(cd "${2:?build dir}" && pwd)
version=${3:?version}
cmake=${CMAKE:-cmake}
cpack=${CPACK:-cpack}

# Everything that is installed, relative to the prefix; nothing else may be (no tests, no demo
# server, no static libraries).
expected_files=(
    bin/pinglark
    share/applications/pinglark.desktop
    share/icons/hicolor/scalable/apps/pinglark.svg
    share/metainfo/io.github.veltrano.pinglark.metainfo.xml
    share/pinglark/icons/hicolor/scalable/apps/pinglark-blank.svg
    share/pinglark/icons/hicolor/scalable/apps/pinglark-blank_entry_icon.svg
    share/pinglark/icons/hicolor/scalable/apps/pinglark-new_entry_icon.svg
    share/pinglark/icons/hicolor/scalable/apps/pinglark-new_entry_icon_clicked.svg
    share/pinglark/icons/hicolor/scalable/apps/pinglark-plinth_bar.svg
    share/pinglark/icons/hicolor/scalable/apps/pinglark-plinth_bar_alt.svg
)

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Compares the list of files (one per line, sorted) on stdin with expected_files under $1.
check_file_list() {
    local prefix=$1 actual
    actual=$(cat)
    local wanted
    wanted=$(printf '%s\n' "${expected_files[@]/#/$prefix}" | LC_ALL=C sort)
    if [ "$actual" != "$wanted" ]; then
        fail "installed files differ from the expected list"
        diff <(echo "$wanted") <(echo "$actual") >&2 || true
    fi
}

# The installed tree under $1: the validators pass, and the files name each other consistently.
check_desktop_files() {
    local root=$1
    local desktop=$root/share/applications/pinglark.desktop
    local metainfo=$root/share/metainfo/io.github.veltrano.pinglark.metainfo.xml

    local tool
    for tool in desktop-file-validate appstreamcli; do
        command -v $tool >/dev/null ||
            { fail "$tool is missing (desktop-file-utils, appstream: make deps)"; return; }
    done

    [ -x "$root/bin/pinglark" ] || fail "bin/pinglark is not executable"

    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects pinglark.desktop"

    local report
    report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) ||
        fail "appstreamcli rejects the metainfo"
    # Errors fail the command; warnings and infos are findings too. Pedantic remarks are not.
    if grep -E '^[EWI]:' <<<"$report" >&2; then
        fail "appstreamcli reports issues in the metainfo"
    fi

    # What the desktop entry and the metainfo point at must be what was installed.
    local exec_line icon
    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    [ -x "$root/bin/${exec_line%% *}" ] || fail "Exec=$exec_line is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon is not installed"

    local launchable binary
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [ -f "$root/share/applications/$launchable" ] ||
        fail "the metainfo launches '$launchable', which is not installed"
    binary=$(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo")
    [ -x "$root/bin/$binary" ] || fail "the metainfo provides '$binary', which is not installed"
    grep -q "<release version=\"$version\"" "$metainfo" ||
        fail "the metainfo lists no release $version"
}

check_tree() {
    local root=$scratch/root
    "$cmake" --install "$build" --prefix "$root" >"$scratch/install.log" ||
        { cat "$scratch/install.log" >&2; fail "cmake --install failed"; return; }
    (cd "$root" && find . ! -type d | sed 's:^\./::' | LC_ALL=C sort) | check_file_list ""
    check_desktop_files "$root"
}

check_package() {
    local tool
    for tool in dpkg-deb dpkg-shlibdeps readelf "$cpack"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not available"
            exit 77
        fi
    done

    (cd "$build" && "$cpack" --config CPackConfig.cmake -G DEB -B "$scratch/pkg") \
        >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; return; }

    local debs=("$scratch"/pkg/*.deb) arch deb
    arch=$(dpkg --print-architecture)
    if [ ${#debs[@]} -ne 1 ] || [ "${debs[0]##*/}" != "pinglark_${version}_$arch.deb" ]; then
        fail "expected one package pinglark_${version}_$arch.deb, got: ${debs[*]##*/}"
        return
    fi
    deb=${debs[0]}

    local field want
    for field in Package:pinglark Version:"$version" Architecture:"$arch" Section:net; do
        want=${field#*:}
        [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "$want" ] ||
            fail "${field%%:*} is '$(dpkg-deb -f "$deb" "${field%%:*}")', expected '$want'"
    done
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"

    # Depends: the libraries the binary links, and the packages holding the plugins Qt loads at run
    # time (xcb platform: libqt6gui6; SVG images and icons: libqt6svg6). No development package,
    # and no package twice.
    local depends names
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    names=$(tr ',|' '\n' <<<"$depends" | sed 's/(.*)//; s/:.*//; s/[[:space:]]//g' | sed '/^$/d')
    for want in libc6 libstdc++6 libexpat1 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
        libqt6svg6; do
        grep -qx "$want" <<<"$names" || fail "Depends lacks $want"
    done
    # Recommends: Qt's Wayland platform plugin, which a Wayland session needs.
    tr ',' '\n' <<<"$(dpkg-deb -f "$deb" Recommends)" | sed 's/(.*)//; s/[[:space:]]//g' |
        grep -qx qt6-wayland || fail "Recommends lacks qt6-wayland"
    if grep -E -- '-dev$' <<<"$names" >&2; then
        fail "Depends names development packages"
    fi
    if sort <<<"$names" | uniq -d | grep . >&2; then
        fail "Depends names a package twice"
    fi

    # Contents: the same files under /usr, owned by root, writable by root alone.
    local listing
    listing=$(dpkg-deb -c "$deb")
    awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | sed 's:^\./::' | LC_ALL=C sort |
        check_file_list "usr/"
    if awk '$2 != "root/root" || substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w"' \
        <<<"$listing" | grep . >&2; then
        fail "entries not owned by root or writable by others"
    fi

    dpkg-deb -x "$deb" "$scratch/unpacked"
    check_desktop_files "$scratch/unpacked/usr"
    if readelf -d "$scratch/unpacked/usr/bin/pinglark" | grep -E 'RPATH|RUNPATH' >&2; then
        fail "the packaged binary carries a library search path"
    fi
}

case $mode in
    tree) check_tree ;;
    package) check_package ;;
    *) echo "unknown mode: $mode" >&2; exit 2 ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "OK: $mode"
