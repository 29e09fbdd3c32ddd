#!/usr/bin/env bash
# Load test: N simulated desktops insert for SECONDS into ClickHouse servers
# started on loopback in a scratch folder, then the store is checked against
# what was sent.
#
#   scripts/fleet-load.sh N SECONDS [options]
#     --cluster            two shards behind a Distributed table (default: one server)
#     --replicated         two shards of two replicas (ZooKeeper), as in
#                          scripts/fleet-replicated.sh
#     --age S              batch age of each desktop in seconds (default 3)
#     --direct             desktops post straight to ClickHouse as the gateway's
#                          user (default: through scripts/gateway.sh)
#     --no-ingest          the gateway inserts each request into ClickHouse itself
#                          (default: through ubc-ingest, scripts/ingest.sh, which
#                          confirms once the rows are on its disk and inserts
#                          about once a second)
#   With --no-ingest:
#     --async              the gateway's user inserts into the Distributed table
#                          without waiting for the shards (shipped: it waits)
#     --batch-inserts      distributed_directory_monitor_batch_inserts=1 on the servers
#     --max-connections N  the servers' max_connections (shipped: 256)
#     --max-queries N      the servers' max_concurrent_queries (shipped: 64) and
#                          the gateway user's max_concurrent_queries_for_user (48)
#     --worker-connections N  the gateway's nginx worker_connections (shipped: 4096)
#     --rollups            the report's daily roll-ups kept by materialized views
#                          on every server (as scripts/fleet-replicated.sh
#                          --rollups loads them); the report from them is then
#                          checked against the report from the records
#     --route              each desktop to its shard's local table, chosen by its
#                          machine digest (header X-Machine): the gateway's
#                          upstream hashes it consistently; the Distributed
#                          table is then only read
#
# Prints inserts/s, latency, parts, merged rows per record stored, failures and
# the FINAL check, and ends with one line
#   fleet-load: desktops=N inserts_per_s=X p50_s=X p99_s=X failed=N merged_per_record=X sent=N stored_once=N
# Exit 0 when every confirmed record is stored once, 1 otherwise, 2 on usage.
# Bounded: SECONDS of load, 30 s for unconfirmed batches, 120 s for the queue
# (or ubc-ingest's spool).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
    echo "usage: $0 N SECONDS [--cluster|--replicated] [--age S] [--direct] [--no-ingest] [--async] [--batch-inserts]" \
         "[--max-connections N] [--max-queries N] [--worker-connections N] [--route]" >&2
    exit 2
}
[ $# -ge 2 ] && [[ "$1" =~ ^[0-9]+$ ]] && [[ "$2" =~ ^[0-9]+$ ]] || usage
desktops=$1 seconds=$2
shift 2
cluster=0 replicas=1 age=3 direct=0 async=0 batch_inserts=0 max_connections="" max_queries="" worker_connections="" route=0 ingest=1 rollups=0
number() { [[ "${1:-}" =~ ^[0-9.]+$ ]] || usage; echo "$1"; }
while [ $# -gt 0 ]; do
    case "$1" in
        --cluster) cluster=1; shift ;;
        --replicated) cluster=1; replicas=2; shift ;;
        --age) age=$(number "${2:-}"); shift 2 ;;
        --direct) direct=1; ingest=0; shift ;;
        --no-ingest) ingest=0; shift ;;
        --async) async=1; shift ;;
        --batch-inserts) batch_inserts=1; shift ;;
        --max-connections) max_connections=$(number "${2:-}"); shift 2 ;;
        --max-queries) max_queries=$(number "${2:-}"); shift 2 ;;
        --worker-connections) worker_connections=$(number "${2:-}"); shift 2 ;;
        --route) route=1; shift ;;
        --rollups) rollups=1; shift ;;
        *) usage ;;
    esac
done
[ $route = 0 ] || [ $cluster = 1 ] || { echo "--route needs --cluster" >&2; usage; }
[ -z "$worker_connections" ] || [ $direct = 0 ] || { echo "--worker-connections needs the gateway" >&2; usage; }
if [ $ingest = 1 ] && { [ $route = 1 ] || [ $async = 1 ]; }; then
    echo "--route and --async are levers of the gateway's own inserts: add --no-ingest" >&2; usage
fi

# The servers' data in memory where there is a tmpfs: the test measures the
# servers' work, not the disk's, and its tens of thousands of merged-away part
# files go in an instant.
base=${FLEET_LOAD_DIR:-/dev/shm}
[ -d "$base" ] && [ -w "$base" ] || base=/tmp
scratch=$(mktemp -d "$base/kelubc-fleet-load.XXXXXX")
sampler=""
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null
    "$root/scripts/gateway.sh" stop "$scratch/gateway"
    "$root/scripts/ingest.sh" stop "$scratch/ingest"
    "$root/scripts/fleet-replicated.sh" stop "$scratch"
    "$root/scripts/clickhouse-server.sh" stop "$scratch/s1r1"
    rm -rf "$scratch"
}
trap cleanup EXIT

nodes=(s1r1)
[ $cluster = 1 ] && nodes=(s1r1 s2r1)
[ $replicas = 2 ] && nodes=(s1r1 s1r2 s2r1 s2r2)
heads=(s1r1)
[ $cluster = 1 ] && heads=(s1r1 s2r1)
# Levers go into each server's config.d before it starts; the users'
# settings into a copy of users.xml that still merges the operator's users.d.
for node in "${nodes[@]}"; do
    mkdir -p "$scratch/$node/config.d"
    conf="<yandex>"
    [ -n "$max_connections" ] && conf+="<max_connections>$max_connections</max_connections>"
    [ -n "$max_queries" ] && conf+="<max_concurrent_queries>$max_queries</max_concurrent_queries>"
    if [ $batch_inserts = 1 ] || [ $async = 1 ] || [ -n "$max_queries" ]; then
        users=$(cat "$root/server/clickhouse/users.xml")
        # The Distributed table's sender reads the default profile.
        [ $batch_inserts = 1 ] && users=$(echo "$users" | sed '0,/<default>/s//<default><distributed_directory_monitor_batch_inserts>1<\/distributed_directory_monitor_batch_inserts>/')
        [ $async = 1 ] && users=$(echo "$users" | sed 's|<insert_distributed_sync>1<|<insert_distributed_sync>0<|')
        [ -n "$max_queries" ] && users=$(echo "$users" | sed "s|<max_concurrent_queries_for_user>[0-9]*<|<max_concurrent_queries_for_user>$max_queries<|")
        echo "$users" > "$scratch/$node/users-load.xml"
        ln -sfn conf/users.d "$scratch/$node/users-load.d"
        conf+="<users_config>$scratch/$node/users-load.xml</users_config>"
    fi
    echo "$conf</yandex>" > "$scratch/$node/config.d/load.xml"
done
if [ $cluster = 1 ]; then
    "$root/scripts/fleet-replicated.sh" start "$scratch" --replicas "$replicas" $([ $rollups = 1 ] && echo --rollups) > /dev/null
    table=records_local
else
    "$root/scripts/clickhouse-server.sh" start "$scratch/s1r1" --schema > /dev/null
    [ $rollups = 0 ] || "$root/scripts/clickhouse-server.sh" query "$scratch/s1r1" < "$root/server/clickhouse/rollups.sql"
    table=records
fi
q() { "$root/scripts/clickhouse-server.sh" query "$scratch/$1" "$2"; }
setting() { q s1r1 "SELECT value FROM system.settings WHERE name = '$1'"; }
[ $batch_inserts = 0 ] || [ "$(setting distributed_directory_monitor_batch_inserts)" = 1 ] \
    || { echo "distributed_directory_monitor_batch_inserts did not take" >&2; exit 1; }

merged() { # MergedRows of every server, summed
    local n total=0
    for n in "${nodes[@]}"; do
        total=$(( total + $(q "$n" "SELECT toUInt64(sum(value)) FROM system.events WHERE event = 'MergedRows'") ))
    done
    echo "$total"
}
parts() { # active parts of the records on every server, summed
    local n total=0
    for n in "${nodes[@]}"; do
        total=$(( total + $(q "$n" "SELECT count() FROM system.parts WHERE database = 'ubc' AND table = '$table' AND active") ))
    done
    echo "$total"
}
queued() { # blocks the Distributed table still has to forward
    [ $cluster = 1 ] || { echo 0; return; }
    find "$scratch/s1r1/data/data/ubc/records" -name '*.bin' 2>/dev/null | wc -l
}
spooled() { # ubc-ingest's segments not yet in ClickHouse
    [ -d "$scratch/ingest/spool" ] || { echo 0; return; }
    find "$scratch/ingest/spool" -maxdepth 1 -name '*.rows' | wc -l
}
inserts() { # INSERT queries the servers ran, summed
    local n total=0
    for n in "${nodes[@]}"; do
        total=$(( total + $(q "$n" "SELECT toUInt64(sum(value)) FROM system.events WHERE event = 'InsertQuery'") ))
    done
    echo "$total"
}

insert="INSERT INTO ubc.$([ $route = 1 ] && echo records_local || echo records) FORMAT JSONEachRow"
client=(--query "$insert")
[ $route = 1 ] && client+=(--route)
if [ $direct = 1 ]; then
    auth="user=ubc_gateway&password=${UBC_GATEWAY_PASSWORD:-ubc-gateway-secret}"
    sync=$([ $async = 1 ] && echo 0 || echo 1)
    targets=(s1r1)
    [ $route = 1 ] && targets=("${heads[@]}")
    for node in "${targets[@]}"; do
        client+=(--url "http://127.0.0.1:$(cat "$scratch/$node/http_port")/?$auth&insert_distributed_sync=$sync")
    done
else
    gw=$scratch/gateway
    via=()
    if [ $ingest = 1 ]; then
        "$root/scripts/ingest.sh" start "$scratch/ingest" --clickhouse "$scratch/s1r1" > /dev/null
        via=(--ingest "$scratch/ingest")
    fi
    client+=(--url "$("$root/scripts/gateway.sh" start "$gw" --clickhouse "$scratch/s1r1" "${via[@]}" \
        --rate 1000000 --burst 1000000)" --token "$(cat "$gw/token")")
    if [ -n "$worker_connections" ]; then
        sed -i "s/worker_connections [0-9]*;/worker_connections $worker_connections;/" "$gw/conf/nginx.conf"
    fi
    if [ $route = 1 ]; then
        # One upstream per machine digest, consistently, to that shard's local table.
        python3 - "$gw/conf/site.conf" "$(cat "$scratch/s2r1/http_port")" <<'PY'
import re, sys
path, port = sys.argv[1], sys.argv[2]
conf = open(path).read()
# max_fails=0: a shard that fails a request is not skipped, or the hash would
# send its machines to the other shard for a while.
conf = re.sub(r"(upstream clickhouse \{\n)    server ([^;\n]*);\n",
              lambda m: m.group(1) + "    hash $http_x_machine consistent;\n"
              + "    server %s max_fails=0;\n    server 127.0.0.1:%s max_fails=0;\n" % (m.group(2), port),
              conf, count=1)
open(path, "w").write(conf)
PY
        sed -i 's/ubc.records%20FORMAT/ubc.records_local%20FORMAT/' "$gw/conf/records.conf"
    fi
    [ -z "$worker_connections" ] && [ $route = 0 ] || "$root/scripts/gateway.sh" reload "$gw"
fi

merged_before=$(merged)
inserts_before=$(inserts)
# Highest part count and queue length, once a second.
(
    max_parts=0 max_queue=0
    while :; do
        p=$(parts 2>/dev/null || echo 0); w=$(queued)
        [ "$p" -gt $max_parts ] && max_parts=$p
        [ "$w" -gt $max_queue ] && max_queue=$w
        echo "$max_parts $max_queue" > "$scratch/peaks"
        sleep 1
    done
) &
sampler=$!

levers="$([ $cluster = 1 ] && echo "two shards" || echo "one server")"
[ $replicas = 2 ] && levers+=" of two replicas"
levers+="$([ $direct = 1 ] && echo ", straight to ClickHouse" || echo ", through the gateway")"
[ $ingest = 1 ] && levers+=" and ubc-ingest"
[ $cluster = 1 ] && levers+=", insert_distributed_sync=$([ $async = 1 ] && echo 0 || echo 1)"
[ $batch_inserts = 1 ] && levers+=", directory monitor batch inserts"
levers+=", max_connections ${max_connections:-256}"
[ -n "$max_queries" ] && levers+=", max concurrent queries $max_queries"
[ -n "$worker_connections" ] && levers+=", nginx worker_connections $worker_connections"
[ $route = 1 ] && levers+=", routed to the shards' local tables"
[ $rollups = 1 ] && levers+=", roll-ups"
echo "fleet-load: $desktops desktops, ${age}s batches of 5-50 records, ${seconds}s; $levers"
timeout $(( seconds + 120 )) python3 "$root/scripts/fleet-load.py" --desktops "$desktops" --seconds "$seconds" \
    --age "$age" "${client[@]}" > "$scratch/client.json"
field() { python3 -c 'import json,sys; v=json.load(open(sys.argv[1]))[sys.argv[2]]; print(v if not isinstance(v, dict) else "\n".join(f"    {n} x {k}" for k, n in v.items()))' "$scratch/client.json" "$1"; }

# What the desktops were told is stored must become visible.
for _ in $(seq 1 120); do [ "$(queued)" = 0 ] && [ "$(spooled)" = 0 ] && break; sleep 1; done
kill "$sampler" 2>/dev/null; wait "$sampler" 2>/dev/null || true; sampler=""
read -r max_parts max_queue < "$scratch/peaks"
left=$(( $(queued) + $(spooled) ))

# CPU the servers and the gateway used, per request: what a quiet machine's
# cores would carry, whatever else this one is doing.
cpu() { # seconds of CPU of the processes named, from /proc (ps rounds to whole seconds)
    local p total=0
    for p in "$@"; do
        total=$(( total + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0) ))
    done
    python3 -c "print(round($total / $(getconf CLK_TCK), 2))"
}
pids=()
for node in "${nodes[@]}"; do pids+=("$(cat "$scratch/$node/pid")"); done
ch_cpu=$(cpu "${pids[@]}")
gw_cpu=0 in_cpu=0
if [ $direct = 0 ]; then
    gw=$(cat "$scratch/gateway/pid")
    # shellcheck disable=SC2046
    gw_cpu=$(cpu "$gw" $(pgrep -P "$gw"))
fi
[ $ingest = 0 ] || in_cpu=$(cpu "$(cat "$scratch/ingest/pid")")
ch_inserts=$(( $(inserts) - inserts_before ))

sent=$(field records)
read -r final distinct < <(q s1r1 "SELECT count(), uniqExact(sessionid, seq) FROM ubc.records FINAL" | tr '\t' ' ')
stored_once=$final
[ "$final" = "$distinct" ] || stored_once=0
merged_after=$(merged)
# Every replica merges its own parts: per record and replica.
merged_per_record=$(python3 -c "print(round(($merged_after - $merged_before) / $replicas / max(1, $distinct), 1))")

echo "  requests: $(field requests) ok, $(field failed) failed, $(field inserts_per_s) inserts/s"
[ "$(field failed)" = 0 ] || field errors
echo "  load client: $(field client_cpu_s) s of CPU (the machine has $(nproc) cores)"
per_request() { python3 -c "print(round(1000 * $1 / max(1, $(field requests)), 2))"; }
echo "  CPU: ClickHouse ${ch_cpu} s, gateway ${gw_cpu} s, ubc-ingest ${in_cpu} s; per confirmed request" \
     "ClickHouse $(per_request "$ch_cpu") ms, gateway $(per_request "$gw_cpu") ms, ubc-ingest $(per_request "$in_cpu") ms"
echo "  ClickHouse insert queries: $ch_inserts, $(python3 -c "print(round($ch_inserts / $seconds, 1))")/s over the load" \
     "(one through the Distributed table counts on every server)"
echo "  latency: p50 $(field p50_s) s, p99 $(field p99_s) s, max $(field max_s) s"
if [ $direct = 0 ]; then
    # The gateway's own view (nginx's \$request_time, last in its log line):
    # on a busy machine the simulated desktops are slow to read their answers.
    echo "  latency at the gateway: $(awk '$6 == 200 { print $NF }' "$scratch/gateway/logs/access.log" | sort -n \
        | awk '{ v[NR] = $1 } END { if (NR) printf "p50 %s s, p99 %s s", v[int(NR * 0.5) + 1], v[int(NR * 0.99) + 1] }')"
fi
echo "  parts: $(parts) active at the end, $max_parts at most"
echo "  distributed queue: $max_queue blocks at most; $left blocks or spool segments left"
echo "  merged rows: $(( merged_after - merged_before )), $merged_per_record per record stored"
if [ $cluster = 1 ]; then
    # A machine on two shards would defeat FINAL for its re-sent copies.
    per_shard="" machines=0
    for node in "${heads[@]}"; do
        read -r rows m < <(q "$node" "SELECT count(), uniqExact(gid) FROM ubc.records_local" | tr '\t' ' ')
        per_shard+="${per_shard:+ / }$rows"; machines=$(( machines + m ))
    done
    split=$(( machines - $(q s1r1 "SELECT uniqExact(gid) FROM ubc.records") ))
    echo "  shards: $per_shard rows; $split machines on both"
fi
if [ $replicas = 2 ]; then
    for s in 1 2; do
        timeout 60 "$root/scripts/clickhouse-server.sh" query "$scratch/s${s}r2" "SYSTEM SYNC REPLICA ubc.records_local" || true
        a=$(q "s${s}r1" "SELECT count(), sum(cityHash64(sessionid, seq)) FROM ubc.records_local FINAL")
        b=$(q "s${s}r2" "SELECT count(), sum(cityHash64(sessionid, seq)) FROM ubc.records_local FINAL")
        [ "$a" = "$b" ] || { echo "  the replicas of shard $s differ"; split=1; }
    done
fi
echo "  records: $sent confirmed, $(field unconfirmed) unconfirmed; after FINAL $final stored, $distinct distinct"
if [ $rollups = 1 ]; then
    # The roll-ups, kept under the load, give the records' answer.
    report=${UBC_REPORT:-$root/build/bin/ubc-report}
    for r in rollups raw; do
        "$report" --quiet --clickhouse "http://127.0.0.1:$(cat "$scratch/s1r1/http_port")" --user default \
            --password-file "$scratch/s1r1/operator_password" --json "$scratch/$r.json" $([ $r = raw ] && echo --raw) \
            2> "$scratch/$r.log" || echo "  ubc-report failed: $(tail -2 "$scratch/$r.log")"
    done
    same=$(python3 -c 'import json, sys
a, b = (json.load(open(f)) for f in sys.argv[1:3])
[s.pop("input", None) for s in (a, b)]
print("the same" if a == b and a["totals"]["records"] == int(sys.argv[3]) else "NOT the same")' \
        "$scratch/rollups.json" "$scratch/raw.json" "$distinct" 2>&1 | tail -1)
    echo "  roll-ups: the report from them and from the records are $same ($distinct records)$(grep -h 'roll-ups disagree' "$scratch/rollups.log" | sed 's/^.*: /; /')"
    [ "$same" = "the same" ] || rollups_differ=1
fi
echo "fleet-load: desktops=$desktops inserts_per_s=$(field inserts_per_s) p50_s=$(field p50_s) p99_s=$(field p99_s) failed=$(field failed) merged_per_record=$merged_per_record sent=$sent stored_once=$stored_once"
# Every confirmed record once; an unconfirmed batch may or may not be stored.
[ "$stored_once" -ge "$sent" ] && [ "$stored_once" -le $(( sent + $(field unconfirmed) )) ] && [ "$left" = 0 ] \
    && [ "${split:-0}" = 0 ] && [ "${rollups_differ:-0}" = 0 ]
