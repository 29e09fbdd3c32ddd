#!/usr/bin/env bash
# The uploader's benchmarks: the logging thread's cost of a record with upload
# on and off, the row conversion, and a million-record local log to a
# ClickHouse server on loopback through the gateway and KelUbcUploader, end to
# end (generation not counted). The per-record runs come first, before the server exists: its
# background merges after a million rows would otherwise share the two cores
# with them. The server and the gateway live in a scratch folder and are
# stopped on any exit.
#   REPS  repetitions of the per-record benchmarks (default: 9)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup-debian.sh clickhouse-server clickhouse-client nginx-light openssl libsimdjson-dev zlib1g-dev
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j"$(nproc)" --target bench_upload > /dev/null
bench=$build/bin/bench/bench_upload

scratch=$(mktemp -d /tmp/kelubc-bench-upload.XXXXXX)
cleanup() {
    scripts/gateway.sh stop "$scratch/gateway" 2>/dev/null || true
    scripts/clickhouse-server.sh stop "$scratch/server" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

"$bench" --benchmark_filter='BM_Row' 2>/dev/null
# On and off repetitions run in random order, so that a drift of the machine
# (another job, the page cache) falls on both sides rather than on one.
"$bench" --benchmark_filter='BM_Record' \
    --benchmark_repetitions="${REPS:-9}" --benchmark_min_time=0.3 \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true 2>/dev/null | tee "$scratch/record.txt"
awk '$1 ~ /_median$/ { wall[$1] = $2; cpu[$1] = $4 }
     END {
         on = "BM_RecordUploadOn_median"; off = "BM_RecordUploadOff_median"
         if (!(on in wall) || !(off in wall) || wall[off] == 0 || cpu[off] == 0) exit 1
         printf "record cost, upload on / off (medians): wall %.2fx, logging thread CPU %.2fx\n",
                wall[on] / wall[off], cpu[on] / cpu[off]
     }' "$scratch/record.txt"

scripts/clickhouse-server.sh start "$scratch/server" --schema > /dev/null
KELUBC_BENCH_CLICKHOUSE_URL=$(scripts/gateway.sh start "$scratch/gateway" --clickhouse "$scratch/server")
KELUBC_BENCH_TOKEN=$(cat "$scratch/gateway/token")
export KELUBC_BENCH_CLICKHOUSE_URL KELUBC_BENCH_TOKEN
"$bench" --benchmark_filter=BM_UploadMillion 2>/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
