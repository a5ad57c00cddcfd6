#!/bin/sh
# Runs every fuzz target of a fuzz build for SECONDS each, from the seed corpus in
# tests/fuzz/corpus (kept as it is) and the corpus the build folder grows. Exits non-zero
# when a target finds a crash, a leak, a timeout or runs out of memory; the input that did
# it is left in BUILD/findings.
#   scripts/fuzz.sh [BUILD] [SECONDS]
set -eu
build=${1:-build-fuzz}
seconds=${2:-60}
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/findings"
for target in engine expression links masks; do
    mkdir -p "$build/corpus/$target"
    echo "== fuzz_$target for ${seconds}s"
    "$build/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -dict="$repo/tests/fuzz/ssi.dict" -artifact_prefix="$build/findings/$target-" \
        "$build/corpus/$target" "$repo/tests/fuzz/corpus/$target" 2>"$build/fuzz_$target.log" || {
        tail -40 "$build/fuzz_$target.log"
        exit 1
    }
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ +DONE" "$build/fuzz_$target.log" || true
done
