#!/usr/bin/env bash
# ubc-report's ClickHouse source over a million generated records: starts a
# server on loopback in a scratch folder, loads the rows, times the report
# (RUNS times, default 5) and stops the server on any exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j"$(nproc)" --target bench_report ubc-report > /dev/null

scratch=$(mktemp -d /tmp/kelubc-bench-report.XXXXXX)
trap 'scripts/clickhouse-server.sh stop "$scratch/server"; rm -rf "$scratch"' EXIT
url=$(scripts/clickhouse-server.sh start "$scratch/server" --schema)
"$build/bin/bench/bench_report" --generate-rows "$scratch/rows.json" 1000000
scripts/clickhouse-server.sh query "$scratch/server" "INSERT INTO ubc.records FORMAT JSONEachRow" < "$scratch/rows.json"
rm -f "$scratch/rows.json"
# As the read-only user reports use (server/clickhouse/users.xml).
export UBC_REPORT_PASSWORD=${UBC_REPORT_PASSWORD:-ubc-report-secret}
for i in $(seq 1 "${RUNS:-5}"); do
    start=$(date +%s%N)
    "$build/bin/ubc-report" --quiet --clickhouse "$url" --user ubc_report --json "$scratch/out.json"
    echo "run $i: $(( ($(date +%s%N) - start) / 1000000 )) ms"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
