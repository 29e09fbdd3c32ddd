#!/usr/bin/env bash
# ubc-report's ClickHouse source at fleet size: two shards on loopback behind
# the Distributed table, RECORDS (default ten million) records made in the
# servers (scripts/fleet-report-records.sql: MACHINES machines, DAYS days,
# sessions of SESSION records), then 1 % of them delivered a second time.
# Times the report RUNS times (default 3) before and after the copies, and
# checks that the answer from the daily roll-ups is the one the records give
# (ubc-report --raw), and prints each query's time in one more run. The servers come from scripts/fleet-replicated.sh;
# stops them on any exit, or with KEEP=1 leaves them and says how to stop them.
#
#   scripts/bench-report-fleet.sh
#   RECORDS=1000000 RUNS=1 scripts/bench-report-fleet.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
records=${RECORDS:-10000000} machines=${MACHINES:-5000} days=${DAYS:-90} session=${SESSION:-200}
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j2 --target ubc-report > /dev/null

scratch=$(mktemp -d /tmp/kelubc-bench-fleet.XXXXXX)
cleanup() {
    if [ "${KEEP:-0}" = 1 ]; then
        echo "kept $scratch; stop with: scripts/fleet-replicated.sh stop $scratch/fleet"
        return
    fi
    scripts/fleet-replicated.sh stop "$scratch/fleet"
    rm -rf "$scratch"
}
trap cleanup EXIT

# Two shards of one server each, then each server's roll-ups of its records
# and the Distributed tables over all of them.
url=$(scripts/fleet-replicated.sh start "$scratch/fleet" --replicas 1 | tail -1)
q() { scripts/clickhouse-server.sh query "$scratch/fleet/$1" "${@:2}"; }
for node in s1r1 s2r1; do q "$node" < server/clickhouse/cluster-rollups.sql; done

# Each shard makes its own rows, as the Distributed table would have sent them.
make_records() {
    local i=0
    for node in s1r1 s2r1; do
        sed -e "s/{records}/$records/g; s/{session}/$session/g; s/{machines}/$machines/g; s/{days}/$days/g" \
            -e "s/{shards}/2/g; s/{shard}/$i/g; s/{copies}/$1/g" scripts/fleet-report-records.sql | q "$node" &
        i=$((i + 1))
    done
    wait
}
start=$(date +%s)
make_records 0
echo "made $(q s1r1 'SELECT count() FROM ubc.records') rows in $(( $(date +%s) - start )) s" \
     "($machines machines, $days days, sessions of $session records)"

# A fleet's store has merged most of its parts; timing the report while the
# servers still merge what was just made would time the merges.
settle() {
    local start merging node
    start=$(date +%s)
    for _ in $(seq 1 600); do
        merging=0
        for node in s1r1 s2r1; do merging=$((merging + $(q "$node" <<< 'SELECT count() FROM system.merges'))); done
        [ "$merging" = 0 ] && break
        sleep 1
    done
    echo "merges settled in $(( $(date +%s) - start )) s"
}

export UBC_REPORT_PASSWORD=${UBC_REPORT_PASSWORD:-ubc-report-secret}
report() {
    "$build/bin/ubc-report" --quiet --clickhouse "$url" --user ubc_report --json "$scratch/$1.json" "${@:2}"
}
measure() {
    local label=$1
    shift
    for i in $(seq 1 "${RUNS:-3}"); do
        local t0 t1
        t0=$(date +%s%N)
        report rollups "$@"
        t1=$(date +%s%N)
        echo "$label, run $i: $(( (t1 - t0) / 1000000 )) ms"
    done
    # Each query's time in one more run, in the order they ended.
    echo "$label, per query: $(QT_LOGGING_RULES="kelubc.report.clickhouse.debug=true" report rollups "$@" 2>&1 |
        sed -n 's/^kelubc.report.clickhouse: \([A-Za-z]*\), \([0-9]*\) ms: .*/\1 \2/p' | paste -sd, - | sed 's/,/, /g') (ms)"
    local t0 t1
    t0=$(date +%s%N)
    report raw --raw "$@"
    t1=$(date +%s%N)
    echo "$label, from the records themselves (--raw): $(( (t1 - t0) / 1000000 )) ms"
    # The same summary apart from where it came from.
    if python3 - "$scratch/rollups.json" "$scratch/raw.json" <<'EOF'
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:3])
for d in (a, b):
    d.pop("input", None)
sys.exit(0 if a == b else 1)
EOF
    then echo "$label: the roll-ups give the records' answer"
    else echo "$label: the roll-ups and the records DIFFER" >&2; status=1
    fi
}
status=0
settle
measure "$records records"
measure "$records records, since the 30th day" --since 2026-07-01
make_records 1
echo "delivered again: $(q s1r1 'SELECT count() FROM ubc.records') rows now"
settle
measure "with 1 % delivered twice"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
