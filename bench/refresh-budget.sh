#!/usr/bin/env bash
# The refresh's budget: from downloaded bytes to the finished menu, for feeds of 15, 1,000 and
# 10,000 items. Goals: 1,000 items in at most 15 ms, and no worse than linear growth beyond what
# caches explain (10,000 items within 20x of 1,000; the instruction count grows 10x).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
csv=$("$build/bench/refresh_bench" --benchmark_filter='BM_RefreshToMenu' \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null)
median() { printf '%s\n' "$csv" | awk -F, -v name="\"BM_RefreshToMenu/$1_median\"" '$1 == name { print $3 }'; }
unit=$(printf '%s\n' "$csv" | awk -F, '/_median/ { gsub(/"/, "", $5); print $5; exit }')
t15=$(median 15) t1k=$(median 1000) t10k=$(median 10000)
echo "refresh to menu (median of 5, $unit): 15 items $t15, 1,000 items $t1k, 10,000 items $t10k"
awk -v u="$unit" -v a="$t1k" -v b="$t10k" 'BEGIN {
    ms = (u == "ns") ? a / 1e6 : (u == "us") ? a / 1e3 : (u == "ms") ? a : a * 1e3
    ratio = b / a
    printf "1,000 items: %.2f ms (goal <= 15); 10,000 / 1,000: %.1fx (goal <= 20)\n", ms, ratio
    exit !(ms <= 15 && ratio <= 20)
}' || { echo "MISSED: refresh budget"; exit 1; }
