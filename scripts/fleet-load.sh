#!/usr/bin/env bash
# Load test: N simulated desktops insert for SECONDS into ClickHouse servers
# started on loopback in a scratch folder, then the store is checked against
# what was sent.
#
#   scripts/fleet-load.sh N SECONDS [options]
#     --cluster            two shards behind a Distributed table (default: one server)
#     --age S              batch age of each desktop in seconds (default 3)
#     --sync               insert_distributed_sync=1 on the desktops' inserts
#     --batch-inserts      distributed_directory_monitor_batch_inserts=1 on the servers
#     --max-connections N  the servers' max_connections (shipped: 256)
#     --route              each desktop straight to its shard's local table, chosen
#                          by its machine digest (what the gateway's consistent
#                          hash does); the Distributed table is then only read
#
# Prints inserts/s, latency, parts, merged rows per record stored, failures and
# the FINAL check, and ends with one line
#   fleet-load: desktops=N inserts_per_s=X p50_s=X p99_s=X failed=N merged_per_record=X sent=N stored_once=N
# Exit 0 when every confirmed record is stored once, 1 otherwise, 2 on usage.
# Bounded: SECONDS of load, 30 s for unconfirmed batches, 120 s for the queue.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
    echo "usage: $0 N SECONDS [--cluster] [--age S] [--sync] [--batch-inserts] [--max-connections N] [--route]" >&2
    exit 2
}
[ $# -ge 2 ] && [[ "$1" =~ ^[0-9]+$ ]] && [[ "$2" =~ ^[0-9]+$ ]] || usage
desktops=$1 seconds=$2
shift 2
cluster=0 age=3 sync=0 batch_inserts=0 max_connections="" route=0
while [ $# -gt 0 ]; do
    case "$1" in
        --cluster) cluster=1; shift ;;
        --age) age=${2:-}; [[ "$age" =~ ^[0-9.]+$ ]] || usage; shift 2 ;;
        --sync) sync=1; shift ;;
        --batch-inserts) batch_inserts=1; shift ;;
        --max-connections) max_connections=${2:-}; [[ "$max_connections" =~ ^[0-9]+$ ]] || usage; shift 2 ;;
        --route) route=1; shift ;;
        *) usage ;;
    esac
done
[ $route = 0 ] || [ $cluster = 1 ] || { echo "--route needs --cluster" >&2; usage; }

scratch=$(mktemp -d /tmp/kelubc-fleet-load.XXXXXX)
sampler=""
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null
    "$root/scripts/fleet-replicated.sh" stop "$scratch" 2>/dev/null || true
    "$root/scripts/clickhouse-server.sh" stop "$scratch/s1r1"
    rm -rf "$scratch"
}
trap cleanup EXIT

nodes=(s1r1)
[ $cluster = 1 ] && nodes=(s1r1 s2r1)
# Levers go into each server's config.d before it starts.
for node in "${nodes[@]}"; do
    mkdir -p "$scratch/$node/config.d"
    conf="<yandex>"
    [ -n "$max_connections" ] && conf+="<max_connections>$max_connections</max_connections>"
    if [ $batch_inserts = 1 ]; then
        # The Distributed table's sender reads the default profile.
        sed '0,/<default>/s//<default><distributed_directory_monitor_batch_inserts>1<\/distributed_directory_monitor_batch_inserts>/' \
            "$root/server/clickhouse/users.xml" > "$scratch/$node/users-load.xml"
        conf+="<users_config>$scratch/$node/users-load.xml</users_config>"
    fi
    echo "$conf</yandex>" > "$scratch/$node/config.d/load.xml"
done
if [ $cluster = 1 ]; then
    "$root/scripts/fleet-replicated.sh" start "$scratch" --replicas 1 > /dev/null
    table=records_local
else
    "$root/scripts/clickhouse-server.sh" start "$scratch/s1r1" --schema > /dev/null
    table=records
fi
q() { clickhouse-client --host 127.0.0.1 --port "$(cat "$scratch/$1/tcp_port")" --query "$2"; }
if [ $batch_inserts = 1 ]; then
    [ "$(q s1r1 "SELECT value FROM system.settings WHERE name = 'distributed_directory_monitor_batch_inserts'")" = 1 ] \
        || { echo "distributed_directory_monitor_batch_inserts did not take" >&2; exit 1; }
fi

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

auth="user=ubc_desktop&password=ubc-desktop-secret"
urls=()
if [ $route = 1 ]; then
    for node in "${nodes[@]}"; do urls+=(--url "http://127.0.0.1:$(cat "$scratch/$node/http_port")/?$auth"); done
    query="INSERT INTO ubc.records_local FORMAT JSONEachRow"
else
    extra=""
    [ $sync = 1 ] && extra="&insert_distributed_sync=1"
    urls+=(--url "http://127.0.0.1:$(cat "$scratch/s1r1/http_port")/?$auth$extra")
    query="INSERT INTO ubc.records FORMAT JSONEachRow"
fi

merged_before=$(merged)
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

echo "fleet-load: $desktops desktops, ${age}s batches of 5-50 records, ${seconds}s, $([ $cluster = 1 ] && echo "two shards" || echo "one server")$([ $sync = 1 ] && echo ", insert_distributed_sync")$([ $batch_inserts = 1 ] && echo ", directory monitor batch inserts")$([ -n "$max_connections" ] && echo ", max_connections $max_connections")$([ $route = 1 ] && echo ", routed to the shards' local tables")"
timeout $(( seconds + 120 )) python3 "$root/scripts/fleet-load.py" --desktops "$desktops" --seconds "$seconds" \
    --age "$age" "${urls[@]}" $([ $route = 1 ] && echo --route) --query "$query" > "$scratch/client.json"
field() { python3 -c 'import json,sys; v=json.load(open(sys.argv[1]))[sys.argv[2]]; print(v if not isinstance(v, dict) else "\n".join(f"    {n} x {k}" for k, n in v.items()))' "$scratch/client.json" "$1"; }

# What the desktops were told is stored must become visible.
for _ in $(seq 1 120); do [ "$(queued)" = 0 ] && break; sleep 1; done
kill "$sampler" 2>/dev/null; wait "$sampler" 2>/dev/null || true; sampler=""
read -r max_parts max_queue < "$scratch/peaks"
left=$(queued)

sent=$(field records)
read -r final distinct < <(q s1r1 "SELECT count(), uniqExact(sessionid, seq) FROM ubc.records FINAL" | tr '\t' ' ')
stored_once=$final
[ "$final" = "$distinct" ] || stored_once=0
merged_after=$(merged)
merged_per_record=$(python3 -c "import sys; print(round(($merged_after - $merged_before) / max(1, $distinct), 1))")

echo "  requests: $(field requests) ok, $(field failed) failed, $(field inserts_per_s) inserts/s"
[ "$(field failed)" = 0 ] || field errors
echo "  latency: p50 $(field p50_s) s, p99 $(field p99_s) s, max $(field max_s) s"
echo "  parts: $(parts) active at the end, $max_parts at most"
echo "  distributed queue: $max_queue blocks at most, $left left"
echo "  merged rows: $(( merged_after - merged_before )), $merged_per_record per record stored"
echo "  records: $sent confirmed, $(field unconfirmed) unconfirmed; after FINAL $final stored, $distinct distinct"
echo "fleet-load: desktops=$desktops inserts_per_s=$(field inserts_per_s) p50_s=$(field p50_s) p99_s=$(field p99_s) failed=$(field failed) merged_per_record=$merged_per_record sent=$sent stored_once=$stored_once"
# Every confirmed record once; an unconfirmed batch may or may not be stored.
[ "$stored_once" -ge "$sent" ] && [ "$stored_once" -le $(( sent + $(field unconfirmed) )) ] && [ "$left" = 0 ]
