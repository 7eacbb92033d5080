#!/usr/bin/env bash
# What Pinglark costs on Wayland once its preferences have been opened: the real binary on Qt's
# wayland platform under a headless sway (no GPU, so any OpenGL would be Mesa's software renderer),
# after its first refresh of a 30-item feed from the demo server, with the preferences opened by a
# second start as from the application menu. Prints the resident memory with our windows kept free
# of OpenGL and, for comparison, with Qt left to its own choice; checks that the window is open and
# floats (a dialog as large as its content), and exits non-zero when OpenGL came in after all, the
# window is tiled, or the first figure passes 45 MB.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
goal_kb=$((45 * 1024))

for tool in sway swaymsg dbus-daemon setpriv; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (make deps)"; exit 1; }
done

work=$(mktemp -d)
. "$(dirname "$0")/../tools/desktop.sh"
trap 'stop_started; rm -rf "$work"' EXIT
port=$(feed_port "$build") || { echo "the build does not take its feed from 127.0.0.1"; exit 1; }

# sway will not run as root: the compositor gets an unprivileged user of its own then.
chmod 755 "$work"
mkdir -p "$work/config/Veltrano" "$work/runtime" "$work/sway"
chmod 700 "$work/runtime" "$work/sway"
printf '[General]\nDataRefreshInterval=1800\n' >"$work/config/Veltrano/Pinglark.conf"
printf 'xwayland disable\n' >"$work/sway.conf"
as_compositor=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$work/sway"
    as_compositor=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi

"$build/tools/pinglark-demo-server" --port "$port" --new-every 0 --items 30 >"$work/server.log" 2>&1 &
pids+=($!)
env -i PATH="$PATH" HOME="$work" XDG_RUNTIME_DIR="$work/sway" WLR_BACKENDS=headless \
    WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    "${as_compositor[@]}" sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
pids+=($!)
start_private_bus "$work"
for _ in $(seq 100); do
    socket=$(find "$work/sway" -maxdepth 1 -name 'wayland-*' -type s | head -1)
    ipc=$(find "$work/sway" -maxdepth 1 -name 'sway-ipc.*' -type s | head -1)
    [ -n "$socket" ] && [ -n "$ipc" ] && break
    sleep 0.1
done
[ -n "$socket" ] && [ -n "$ipc" ] || { echo "sway did not start"; cat "$work/sway.log"; exit 1; }

export SWAYSOCK=$ipc
run_env=(env -u DISPLAY QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY="$socket" HOME="$work"
    XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
    DBUS_SESSION_BUS_ADDRESS="$bus_address")

# measure NAME [VARIABLE=VALUE...]: one run; sets rss, hwm, gl (whether a Mesa driver is mapped)
# and floating.
measure() {
    local name=$1 app requests
    shift
    requests=$(grep -c 'served /notifications/veltrano.xml' "$work/server.log" || true)
    "${run_env[@]}" "$@" "$build/app/pinglark" >"$work/$name.log" 2>&1 &
    app=$!
    pids+=($app)
    wait_for_requests "$work/server.log" $((requests + 1)) ||
        { echo "$name: no refresh reached the server"; exit 1; }
    sleep 1
    timeout 15 "${run_env[@]}" "$@" "$build/app/pinglark" >"$work/$name-second.log" 2>&1 ||
        { echo "$name: a second start did not hand its request over"; exit 1; }
    for _ in $(seq 100); do
        swaymsg -q '[app_id="^pinglark$" title="Preferences"] nop' 2>/dev/null && break
        sleep 0.1
    done
    swaymsg -q '[app_id="^pinglark$" title="Preferences"] nop' 2>/dev/null ||
        { echo "$name: the preferences window never opened"; exit 1; }
    sleep 2
    floating=no
    swaymsg -q '[app_id="^pinglark$" title="Preferences" floating] nop' 2>/dev/null && floating=yes
    rss=$(awk '/^VmRSS/ {print $2}' /proc/$app/status)
    hwm=$(awk '/^VmHWM/ {print $2}' /proc/$app/status)
    gl=no
    grep -qE 'libEGL_mesa|_dri\.so' /proc/$app/maps && gl=yes
    kill -TERM $app
    wait $app || true
}

measure qt QT_WAYLAND_DISABLE_WINDOWDECORATION=0
qt_rss=$rss qt_hwm=$hwm qt_gl=$gl
measure ours
echo "resident memory after the preferences opened on Wayland (sway, headless):"
echo "  as Pinglark runs: steady ${rss} kB, peak ${hwm} kB, OpenGL: $gl   (goal <= $goal_kb kB, no OpenGL)"
echo "  Qt left to itself: steady ${qt_rss} kB, peak ${qt_hwm} kB, OpenGL: $qt_gl"
echo "preferences window floating: $floating"
status=0
[ "$gl" = no ] || { echo "MISSED: OpenGL came into the process"; status=1; }
[ "$hwm" -le "$goal_kb" ] || { echo "MISSED: resident memory on Wayland"; status=1; }
[ "$floating" = yes ] || { echo "MISSED: the preferences window is tiled, not floating"; status=1; }
exit $status
