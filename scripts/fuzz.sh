#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, starting
# from the corpus in fuzz/corpus/<target>/. Fails on the first crash, leak,
# sanitizer report or input slower than the timeout.
#   BUILD_DIR      build folder (default: build-fuzz)
#   FUZZ_SECONDS   time per target (default: 20)
#   FUZZ_TARGETS   targets to run (default: all that were built)
# A failing input is kept in <build>/fuzz-artifacts/<target>/; replay it with
#   <build>/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup-debian.sh clang libclang-rt-14-dev

build=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_FUZZ=ON \
    -DKELUBC_BUILD_TESTS=OFF -DKELUBC_BUILD_APPS=OFF -DKELUBC_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzers

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
targets=${FUZZ_TARGETS:-$(cd fuzz/corpus && ls)}
status=0
for target in $targets; do
    exe=$build/fuzz/$target
    if [ ! -x "$exe" ]; then
        echo "== $target: not built here, skipped"
        continue
    fi
    # New inputs go to a scratch folder; the checked-in corpus is only read.
    work=$build/fuzz-corpus/$target
    artifacts=$build/fuzz-artifacts/$target/
    mkdir -p "$work" "$artifacts"
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096
          -print_final_stats=1 -artifact_prefix="$artifacts")
    [ -f "fuzz/$target.dict" ] && args+=(-dict="fuzz/$target.dict")
    echo "== $target: ${seconds}s"
    if ! "$exe" "${args[@]}" "$work" "fuzz/corpus/$target" > "$build/$target.log" 2>&1; then
        status=1
        echo "== $target FAILED; the end of $root/$build/$target.log:"
        tail -n 40 "$build/$target.log"
    else
        grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/$target.log" | tr '\n' ' '
        echo
    fi
done
exit $status
