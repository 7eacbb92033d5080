#!/usr/bin/env bash
# What Pinglark costs while it waits: the real binary under Xvfb with a tray host, after its first
# refresh of a 30-item feed from the demo server, left alone for 60 s with nothing blinking.
# Prints the context switches of all its threads over those 60 s, its thread count, steady and peak
# resident memory, and exits non-zero when a goal is missed.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
seconds=${IDLE_SECONDS:-60}
goal_switches=5
goal_rss_kb=$((30 * 1024))

work=$(mktemp -d)
. "$(dirname "$0")/../tools/desktop.sh"
trap 'stop_started; rm -rf "$work"' EXIT
# The demo server listens where the build looks for its feed.
port=$(feed_port "$build") || { echo "the build does not take its feed from 127.0.0.1"; exit 1; }

mkdir -p "$work/config/Veltrano" "$work/runtime"
chmod 700 "$work/runtime"
printf '[General]\nDataRefreshInterval=1800\n' >"$work/config/Veltrano/Pinglark.conf"

"$build/tools/pinglark-demo-server" --port "$port" --new-every 0 --items 30 >"$work/server.log" 2>&1 &
pids+=($!)
start_virtual_desktop "$work"

XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=xcb \
    /usr/bin/time -v -o "$work/time.txt" "$build/app/pinglark" >"$work/pinglark.log" 2>&1 &
timer=$!
for _ in $(seq 100); do
    app=$(pgrep -P "$timer" pinglark || true)
    [ -n "$app" ] && break
    sleep 0.05
done
wait_for_requests "$work/server.log" 1 || { echo "no refresh reached the server"; exit 1; }
sleep 2

switches() {
    local total=0 v n
    for status in /proc/"$app"/task/*/status; do
        v=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$status")
        n=$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "$status")
        total=$((total + v + n))
    done
    echo "$total"
}
before=$(switches)
sleep "$seconds"
after=$(switches)
threads=$(ls /proc/"$app"/task | wc -l)
rss=$(awk '/^VmRSS/ {print $2}' /proc/"$app"/status)
hwm=$(awk '/^VmHWM/ {print $2}' /proc/"$app"/status)
kill -TERM "$app"
wait "$timer" || true
peak=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time.txt")

idle=$((after - before))
echo "idle context switches over ${seconds}s (all threads): $idle   (goal <= $goal_switches)"
echo "threads: $threads"
echo "resident memory after the first refresh: steady ${rss} kB, peak ${hwm} kB; /usr/bin/time -v maximum ${peak:-?} kB   (goal <= $goal_rss_kb kB)"
status=0
[ "$idle" -le "$goal_switches" ] || { echo "MISSED: idle wake-ups"; status=1; }
[ "$hwm" -le "$goal_rss_kb" ] || { echo "MISSED: resident memory"; status=1; }
exit $status
