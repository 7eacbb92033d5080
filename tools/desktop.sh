# Sourced by the scripts that run Pinglark on a virtual desktop (make run without a display, the
# idle and leak checks): an X server with a tray host, and a click on the docked icon.

# Processes started here or by the caller, ended by stop_started (the caller traps EXIT to it).
pids=()
stop_started() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}

# start_virtual_desktop LOGDIR: Xvfb on a free display with the trayer tray host docked at the top
# right; exports DISPLAY.
start_virtual_desktop() {
    local logs=$1 display
    display=:$((90 + RANDOM % 800))
    # -noreset: without it the server forgets the root colour when xsetroot disconnects.
    Xvfb "$display" -screen 0 800x600x24 -nolisten tcp -noreset >"$logs/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    xsetroot -solid '#3a4150' 2>/dev/null || true
    trayer --edge top --align right --widthtype pixel --width 64 --height 32 --iconspacing 4 \
        --SetDockType true >"$logs/trayer.log" 2>&1 &
    pids+=($!)
    sleep 0.5
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
