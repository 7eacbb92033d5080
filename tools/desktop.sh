# Sourced by the scripts that run Pinglark on a virtual desktop (make run without a display, the
# idle, leak and Wayland checks): an X server with a tray host, a session bus, and a click on the
# docked icon. (The suites and benchmarks written in C++ start theirs with tests/support's
# SessionServer, the same way.)

# Processes started here or by the caller, ended by stop_started (the caller traps EXIT to it).
pids=()
stop_started() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}

# start_server LOG PROGRAM ARGS...: a server of the session that writes where to reach it on
# descriptor 3 once it takes clients (Xvfb -displayfd 3, dbus-daemon --print-address=3); sets
# `reached` to that line, or fails when none came within 15 s.
start_server() {
    local log=$1 out
    shift
    out=$(mktemp)
    "$@" 3>"$out" >>"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 150); do
        [ "$(wc -l <"$out")" -ge 1 ] && break
        kill -0 $! 2>/dev/null || break
        sleep 0.1
    done
    reached=$(head -1 "$out")
    rm -f "$out"
    [ -n "$reached" ]
}

# start_virtual_desktop LOGDIR: Xvfb on a display of its own with the trayer tray host docked at
# the top right; exports DISPLAY.
start_virtual_desktop() {
    local logs=$1 display
    for _ in 1 2 3 4 5; do
        # Away from the low numbers desktops take; one taken meanwhile makes Xvfb exit. Without
        # -noreset it would forget the root colour when xsetroot disconnects.
        display=$((200 + RANDOM % 700))
        [ -e "/tmp/.X$display-lock" ] && continue
        start_server "$logs/xvfb.log" Xvfb ":$display" -displayfd 3 -screen 0 800x600x24 \
            -nolisten tcp -noreset && [ "$reached" = "$display" ] && break
        display=
    done
    [ -n "$display" ] || { echo "Xvfb did not start (see $logs/xvfb.log)" >&2; return 1; }
    export DISPLAY=:$display
    xsetroot -solid '#3a4150' 2>/dev/null || true
    trayer --edge top --align right --widthtype pixel --width 64 --height 32 --iconspacing 4 \
        --SetDockType true >"$logs/trayer.log" 2>&1 &
    pids+=($!)
    sleep 0.5
}

# start_private_bus LOGDIR: a session bus of its own (dbus-daemon); sets bus_address.
start_private_bus() {
    start_server "$1/dbus.log" dbus-daemon --session --nofork --print-address=3 ||
        { echo "dbus-daemon did not start (see $1/dbus.log)" >&2; return 1; }
    bus_address=$reached
}

# click_tray_icon: a click on Pinglark's icon, the small window of its own the tray host docked.
click_tray_icon() {
    local window X Y WIDTH HEIGHT SCREEN
    for window in $(xdotool search --classname pinglark 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        if [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && [ "$X" -gt 0 ]; then
            xdotool mousemove $((X + 8)) $((Y + 8)) click 1
            return 0
        fi
    done
    return 1
}

# wait_for_requests LOG N: until the demo server has served the feed N times (60 s at most).
wait_for_requests() {
    local log=$1 count=$2
    for _ in $(seq 600); do
        [ "$(grep -c 'served /notifications/veltrano.xml' "$log" 2>/dev/null || true)" -ge "$count" ] &&
            return 0
        sleep 0.1
    done
    return 1
}

# feed_port BUILD: the port of 127.0.0.1 that a build takes its feed from, where the demo server must
# listen; fails when the build's feed is elsewhere.
feed_port() {
    local url
    url=$(sed -n 's/^PINGLARK_SITE_URL:STRING=//p' "$1/CMakeCache.txt" 2>/dev/null)
    url=${url#http://}
    url=${url%%/*}
    case $url in 127.0.0.1:[0-9]*) echo "${url#127.0.0.1:}" ;; *) return 1 ;; esac
}
