#!/usr/bin/env bash
# `make bench`: every benchmark in bench/, then the idle-cost and Wayland memory checks of the real
# binary.
set -euo pipefail
build=${1:-build}
status=0
for bench in refresh_bench hostile_bench xml_parse_bench settings_bench refresh_memory; do
    if [ -x "$build/bench/$bench" ]; then
        echo "== $bench"
        "$build/bench/$bench" || status=1
    fi
done
echo "== refresh budget"
bench/refresh-budget.sh "$build" || status=1
if [ -x "$build/bench/desktop_budget" ]; then
    echo "== start-up and blink cost"
    "$build/bench/desktop_budget" || status=1
fi
echo "== idle cost"
bench/idle-cost.sh "$build" || status=1
echo "== memory on Wayland"
bench/wayland-memory.sh "$build" || status=1
exit $status
