#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds KelUbc and runs its tests.
#   KELUBC_QT_MAJOR       5 (default) or 6: the Qt to build against
#   BUILD_DIR             build folder (default: build, or build-qt6 for Qt 6)
#   SANITIZE=1            AddressSanitizer + UndefinedBehaviorSanitizer build
#                         (default folder: build-asan, or build-asan-qt6)
#   KELUBC_COMPARE_DEMO   ubc-demo of a build against the other Qt version: the
#                         test demo_same_across_qt plays the scenario with both
#   CLICKHOUSE=0|1        run the tests labelled clickhouse (real servers on
#                         loopback); default 1, and 0 under SANITIZE=1
#   KELUBC_BUILD_BENCH    ON (default) or OFF: build the benchmarks too
set -euo pipefail
cd "$(dirname "$0")/.."

major=${KELUBC_QT_MAJOR:-5}
suffix=""
[ "$major" = 6 ] && suffix=-qt6
extra=()
[ "${SANITIZE:-0}" = 1 ] && extra+=(clang libclang-rt-dev)
clickhouse=${CLICKHOUSE:-$([ "${SANITIZE:-0}" = 1 ] && echo 0 || echo 1)}
select=()
# The real servers: ClickHouse, the gateway (nginx) and what its test drives it with.
if [ "$clickhouse" = 1 ]; then extra+=(clickhouse-server clickhouse-client nginx-light openssl curl zookeeper); else select=(-LE clickhouse); fi
scripts/setup-debian.sh "${extra[@]}"

jobs=$(nproc)
common=(-DKELUBC_QT_MAJOR="$major" -DKELUBC_COMPARE_DEMO="${KELUBC_COMPARE_DEMO:-}")
if [ "${SANITIZE:-0}" = 1 ]; then
    build=${BUILD_DIR:-build-asan$suffix}
    cmake -S . -B "$build" "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DKELUBC_SANITIZE=ON -DKELUBC_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    build=${BUILD_DIR:-build$suffix}
    cmake -S . -B "$build" "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH="${KELUBC_BUILD_BENCH:-ON}"
fi
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" "${select[@]}"
