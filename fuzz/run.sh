#!/usr/bin/env bash
# Runs both fuzzers side by side for the given number of seconds each, seeded with the test
# feeds. Crashes land in <build>/crashes/; every one found becomes a regression test.
#   fuzz/run.sh build-fuzz 1900
set -euo pipefail
build=$(cd "${1:-build-fuzz}" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/crashes"
pids=()
for fuzzer in xml_fuzzer refresh_fuzzer; do
    corpus="$build/corpus/$fuzzer"
    mkdir -p "$corpus"
    cp -n "$root"/tests/support/feeds/* "$corpus"/ 2>/dev/null || true
    /usr/bin/time -f "$fuzzer: %U s user, %S s system, %M kB peak" -o "$build/$fuzzer.time" \
        "$build/fuzz/$fuzzer" "$corpus" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$fuzzer-" >"$build/$fuzzer.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for fuzzer in xml_fuzzer refresh_fuzzer; do
    cat "$build/$fuzzer.time"
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$build/$fuzzer.log" || true
done
ls "$build/crashes"
exit $status
