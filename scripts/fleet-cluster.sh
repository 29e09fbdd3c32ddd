#!/usr/bin/env bash
# Two ClickHouse servers on loopback behind a Distributed table, and a third
# standing alone, each reached through a gateway: a million generated records
# (RECORDS) go through the uploader to the cluster and to the single node,
# then the queries of
# server/clickhouse/queries.sql run on both and their answers are printed
# side by side. Stops every server and gateway on any exit; bounded by the
# uploads' timeout (120 s each). With --replicated, scripts/fleet-replicated.sh
# instead: replicas that survive a kill.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
records=${RECORDS:-1000000}
scripts/setup-debian.sh clickhouse-server clickhouse-client nginx-light openssl libsimdjson-dev zlib1g-dev
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target ubc-upload ubc-report > /dev/null
# --replicated: two shards of two replicas, one killed and restarted mid-load,
# then the report from their roll-ups against the report from the records.
if [ "${1:-}" = --replicated ]; then
    exec scripts/fleet-replicated.sh run --records "$records" --uploader "$build/bin/ubc-upload" \
        --report "$build/bin/ubc-report" --sync-limit 600
fi

scratch=$(mktemp -d /tmp/kelubc-fleet-cluster.XXXXXX)
cleanup() {
    for node in shard1 single; do scripts/gateway.sh stop "$scratch/$node-gateway"; done
    for node in shard1 shard2 single; do scripts/clickhouse-server.sh stop "$scratch/$node"; done
    rm -rf "$scratch"
}
trap cleanup EXIT

. scripts/lib/loopback.sh
# The shards must know each other's ports before they start, and reach each
# other as the operator: one operator password for both.
password=$(random_secret)
for node in shard1 shard2; do
    mkdir -p "$scratch/$node/config.d"
    free_port > "$scratch/$node/http_port"
    free_port > "$scratch/$node/tcp_port"
    (umask 077; echo "$password" > "$scratch/$node/operator_password")
done
cluster="<yandex><remote_servers><ubc_cluster>"
for node in shard1 shard2; do
    cluster+="<shard><replica><host>127.0.0.1</host><port>$(cat "$scratch/$node/tcp_port")</port>"
    cluster+="<user>default</user><password>$password</password></replica></shard>"
done
cluster+="</ubc_cluster></remote_servers></yandex>"
for node in shard1 shard2; do
    (umask 077; echo "$cluster" > "$scratch/$node/config.d/cluster.xml")
    scripts/clickhouse-server.sh start "$scratch/$node" > /dev/null
    sed 's/^CREATE TABLE IF NOT EXISTS ubc\.[a-z_]*$/&_local/' server/clickhouse/schema.sql \
        | cat - server/clickhouse/cluster.sql \
        | scripts/clickhouse-server.sh query "$scratch/$node"
done
scripts/clickhouse-server.sh start "$scratch/single" --schema > /dev/null
# The gateway's ClickHouse user inserts into a Distributed table synchronously
# (its profile), so a confirmed batch is on its shard.
cluster_url=$(scripts/gateway.sh start "$scratch/shard1-gateway" --clickhouse "$scratch/shard1")
single_url=$(scripts/gateway.sh start "$scratch/single-gateway" --clickhouse "$scratch/single")

log="$scratch/records.jsonl"
echo "cluster (2 shards):"
UBC_UPLOAD_TOKEN=$(cat "$scratch/shard1-gateway/token") \
    "$build/bin/ubc-upload" --url "$cluster_url" --generate "$records" --machines 20 "$log" | sed 's/^/  /'
echo "single node:"
rm -f "$log.cursor"
UBC_UPLOAD_TOKEN=$(cat "$scratch/single-gateway/token") \
    "$build/bin/ubc-upload" --url "$single_url" "$log" | sed 's/^/  /'

q() { scripts/clickhouse-server.sh query "$scratch/$1" "$2" | tr "\t" " "; }
status=0
while IFS= read -r sql; do
    case "$sql" in ''|--*) continue ;; esac
    q shard1 "$sql" > "$scratch/a"; q single "$sql" > "$scratch/b"
    echo
    echo "$sql"
    printf '  %-36s| %s\n' "cluster" "single node"
    paste -d'|' "$scratch/a" "$scratch/b" | awk -F'|' '{ printf "  %-36s| %s\n", $1, $2 }'
    cmp -s "$scratch/a" "$scratch/b" || { echo "  DIFFERENT"; status=1; }
done < server/clickhouse/queries.sql
echo
echo "shard 1 holds $(q shard1 'SELECT count() FROM ubc.records_local FINAL') records, shard 2 $(q shard2 'SELECT count() FROM ubc.records_local FINAL')"
if [ $status = 0 ]; then echo "cluster and single node agree"; else echo "cluster and single node differ"; fi
exit $status
