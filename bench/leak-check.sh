#!/usr/bin/env bash
# A whole cycle of the real program under valgrind's leak checker: start, refreshes, a new entry
# (the icon blinks), the menu opened, an entry chosen, the preferences window opened, then quit
# (SIGTERM, as a logout does). Fails when valgrind finds memory definitely lost by our own code.
#   bench/leak-check.sh build
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
port=8731
work=$(mktemp -d)
echo "work folder: $work"
. "$(dirname "$0")/../tools/desktop.sh"
trap 'stop_started; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

mkdir -p "$work/config/Veltrano" "$work/runtime" "$work/bin"
chmod 700 "$work/runtime"
printf '[General]\nDataRefreshInterval=4\n' >"$work/config/Veltrano/Pinglark.conf"
# The desktop's URL opener, standing in: records what it was asked to open.
printf '#!/bin/sh\necho "$@" >>"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

"$build/tools/pinglark-demo-server" --port "$port" --new-every 6 >"$work/server.log" 2>&1 &
pids+=($!)
start_virtual_desktop "$work"

PATH="$work/bin:$PATH" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: \
    valgrind --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --num-callers=30 --log-file="$work/valgrind.log" "$build/app/pinglark" >"$work/app.log" 2>&1 &
app=$!
pids+=($app)

wait_for_requests "$work/server.log" 3 || { echo "the program never refreshed three times"; exit 1; }
sleep 1

# Open the menu with a click on the docked icon, choose the top entry, then open the menu again
# and choose Preferences… with the keyboard, counted up from the bottom (the first Up selects
# Quit) since the number of entries changes with every refresh.
click_tray_icon; sleep 2
xdotool key Down Return; sleep 2
click_tray_icon; sleep 2
xdotool key Up Up Up Up Return; sleep 3
# The cycle counts only when every step happened.
xdotool search --name 'Pinglark Preferences' >/dev/null ||
    { echo "the preferences window did not open"; exit 1; }
echo "preferences window opened"
[ -s "$work/opened" ] || { echo "no entry was opened"; exit 1; }
echo "entry opened: $(cat "$work/opened")"

kill -TERM "$app"
wait "$app" || true
# The log also holds a summary for the forked child that starts the URL opener, whose copies of the
# other threads' memory are lost by design when it execs.
grep -E 'definitely lost|indirectly lost|ERROR SUMMARY' "$work/valgrind.log" || true
# Only leaks whose stack passes through our own code count: Qt's and the libraries' caches that
# live until exit are theirs.
own=$(awk '/definitely lost in loss record/,/^==[0-9]+== $/' "$work/valgrind.log" |
    grep -c -E 'AppController|FeedMenuItem|XMLTree|XMLNode|UserDefaults|FeedDownload|StatusItem|PreferenceController|LaunchAtLogin|main\.cpp' || true)
echo "definite leaks through Pinglark's own code: $own"
[ "$own" -eq 0 ]
