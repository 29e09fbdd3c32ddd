#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds KelUbc and runs its tests.
#   BUILD_DIR   build folder (default: build)
#   SANITIZE=1  AddressSanitizer + UndefinedBehaviorSanitizer build (default folder: build-asan)
#   CLICKHOUSE=0|1  run the tests labelled clickhouse (real server on loopback);
#               default 1, and 0 under SANITIZE=1
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
[ "${SANITIZE:-0}" = 1 ] && extra+=(clang libclang-rt-dev)
clickhouse=${CLICKHOUSE:-$([ "${SANITIZE:-0}" = 1 ] && echo 0 || echo 1)}
select=()
if [ "$clickhouse" = 1 ]; then extra+=(clickhouse-server clickhouse-client); else select=(-LE clickhouse); fi
scripts/setup-debian.sh "${extra[@]}"

jobs=$(nproc)
if [ "${SANITIZE:-0}" = 1 ]; then
    build=${BUILD_DIR:-build-asan}
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKELUBC_SANITIZE=ON -DKELUBC_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    build=${BUILD_DIR:-build}
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH=ON
fi
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" "${select[@]}"
