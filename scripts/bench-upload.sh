#!/usr/bin/env bash
# Upload throughput: a million-record local log to a ClickHouse server on
# loopback, through KelUbcUploader, end to end (generation not counted), and
# the logging thread's cost of a record with upload on and off. Starts the
# server in a scratch folder and stops it on any exit.
#   REPS  repetitions of the per-record benchmarks (default: 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup-debian.sh clickhouse-server clickhouse-client libsimdjson-dev zlib1g-dev
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j"$(nproc)" --target bench_upload > /dev/null

scratch=$(mktemp -d /tmp/kelubc-bench-upload.XXXXXX)
trap 'scripts/clickhouse-server.sh stop "$scratch/server"; rm -rf "$scratch"' EXIT
KELUBC_BENCH_CLICKHOUSE_URL=$(scripts/clickhouse-server.sh start "$scratch/server" --schema)
export KELUBC_BENCH_CLICKHOUSE_URL
"$build/bin/bench/bench_upload" --benchmark_filter=BM_UploadMillion 2>/dev/null
"$build/bin/bench/bench_upload" --benchmark_filter='BM_Record|BM_Row' \
    --benchmark_repetitions="${REPS:-5}" --benchmark_report_aggregates_only=true 2>/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
