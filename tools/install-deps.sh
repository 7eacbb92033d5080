#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Pinglark need, and only those
# that are missing. Runs apt-get as root, through sudo when needed.
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins
    libexpat1-dev zlib1g-dev libxcb1-dev
    # translations: lupdate and lrelease, their CMake package (in qt6-tools-dev), and Qt's own
    # translations, which the program loads beside its own
    qt6-l10n-tools qt6-tools-dev qt6-translations-l10n
    # the tests' HTTP server (Qt's CMake package for it also looks for Qt WebSockets)
    qt6-httpserver-dev qt6-websockets-dev
    # Qt's Wayland platform (without it Qt falls back to Xwayland)
    qt6-wayland
    # the static checks of `make test` (Debian 12's version 14: another version formats differently)
    clang-format-14 clang-tidy-14
    # benchmarks
    libbenchmark-dev libxml2-dev libpugixml-dev time
    # a headless Wayland compositor for the memory check on Wayland
    sway
    # a desktop to run in when there is none: X server, tray host, clicks, screenshots, fonts
    xvfb xauth trayer xdotool imagemagick x11-utils x11-xserver-utils dbus dbus-x11 fonts-dejavu-core
    # the accessibility bus (AT-SPI) that screen readers read the program through (e2e_dbus)
    at-spi2-core
    # XFCE's panel, whose systray plugin hosts StatusNotifierItems, and its notification server
    # (e2e_xfce)
    xfce4-panel xfce4-notifyd
    # GNOME Shell and its AppIndicator extension, which hosts them on GNOME (e2e_gnome): about
    # 110 MB to download, 380 MB installed; and GTK's SVG loader, which every GNOME desktop has
    # (GTK recommends it): without it the extension finds no icon by name in IconThemePath
    gnome-shell gnome-shell-extension-appindicator librsvg2-common
    # checks of the files installed for the desktop (gio launches the autostart entry)
    desktop-file-utils appstream libglib2.0-bin
    # the .deb: dpkg-shlibdeps works out its dependencies, CPack's Debian generator runs `file`,
    # lintian checks the package against Debian's policy
    dpkg-dev file lintian
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Needs root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
