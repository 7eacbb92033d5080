#!/usr/bin/env bash
# Runs Pinglark against the bundled demo feed server, with a settings folder of its own whose
# refresh period is 20 s. The demo server publishes a new entry every 15 s, so within a minute the
# icon blinks and the new entry carries the new-entry image.
#
# In a desktop session the icon appears in the panel; quit it from its menu. Without a display,
# the same runs inside Xvfb with a tray host: the script opens the menu once a refresh has brought
# a new entry, saves a screenshot of it and exits.
#
#   tools/run-demo.sh [BUILD [PORT [FORMAT]]]    FORMAT: rss1 (the default), rss2 or atom
set -euo pipefail

build=${1:-build}
port=${2:-8731}
format=${3:-rss1}
build=$(cd "$build" && pwd)
config="$build/run-config"
mkdir -p "$config/Veltrano"
conf="$config/Veltrano/Pinglark.conf"
# Keep whatever the user chose before, but refresh every 20 s.
if [ -f "$conf" ] && grep -q '^DataRefreshInterval=' "$conf"; then
    sed -i 's/^DataRefreshInterval=.*/DataRefreshInterval=20/' "$conf"
elif [ -f "$conf" ] && grep -q '^\[General\]' "$conf"; then
    sed -i 's/^\[General\]$/[General]\nDataRefreshInterval=20/' "$conf"
else
    printf '[General]\nDataRefreshInterval=20\n' >>"$conf"
fi

. "$(dirname "$0")/desktop.sh"
trap stop_started EXIT

server_log="$build/demo-server.log"
"$build/tools/pinglark-demo-server" --port "$port" --new-every 15 --format "$format" \
    >"$server_log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
echo "Demo feed server on http://127.0.0.1:$port/notifications/veltrano.xml, $format (log: $server_log)"
echo "Settings: $conf"

export XDG_CONFIG_HOME="$config"
# The demo's copy of the feed stays out of the user's own cache too.
export XDG_CACHE_HOME="$build/run-cache"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$build/run-runtime"
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting Pinglark: its icon is in the panel; choose Quit Pinglark from its menu to end."
    "$build/app/pinglark"
    exit 0
fi

# No display: a virtual one, with a tray host on it.
start_virtual_desktop "$build"
QT_QPA_PLATFORM=xcb "$build/app/pinglark" >"$build/pinglark.log" 2>&1 &
app=$!
pids+=($app)
echo "No display: running in Xvfb ($DISPLAY) with the trayer tray host."

# Wait for the second refresh, which finds the entry the server published after 15 s.
wait_for_requests "$server_log" 2 || { echo "No refresh reached the demo server"; exit 1; }
kill -0 "$app" 2>/dev/null || { echo "Pinglark ended early:"; cat "$build/pinglark.log"; exit 1; }
sleep 1
echo "Refreshed twice; a new entry arrived, so the icon blinks."

click_tray_icon || { echo "Pinglark's icon is not in the tray"; exit 1; }
sleep 1.5
shot="$build/pinglark-menu.png"
import -window root "$shot"
echo "Opened the menu and saved a screenshot: $shot"
kill "$app" 2>/dev/null || true
