#!/bin/sh
# Builds the libFuzzer targets with clang (ASan/UBSan) into build-fuzz/ and runs each on its
# corpus for a bounded time. Any crash, leak or sanitizer report makes the script fail.
# Usage: tools/run-fuzz.sh [seconds per target, default 37]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-37}
build=${QUILLNET_FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

status=0
for target in dbf mdx expression damage; do
    # New inputs go to a scratch folder; the repository corpus stays as committed.
    work="$build/corpus-$target"
    mkdir -p "$work" "$build/artifacts-$target"
    echo "fuzz_$target: ${seconds}s"
    if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
        "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/artifacts-$target/" \
        "$work" "fuzz/corpus/$target" >"$build/fuzz_$target.log" 2>&1; then
        echo "fuzz_$target FAILED; last lines of $build/fuzz_$target.log:"
        tail -n 60 "$build/fuzz_$target.log"
        status=1
    else
        grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$build/fuzz_$target.log" || true
    fi
done
exit $status
