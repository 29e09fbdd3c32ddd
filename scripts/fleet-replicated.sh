#!/usr/bin/env bash
# Two shards of ClickHouse servers on loopback behind a Distributed table,
# with two replicas of each shard kept by ZooKeeper, or one.
#
#   scripts/fleet-replicated.sh start DIR [--replicas 1|2] [--rollups]
#       starts ZooKeeper (with two replicas) and the servers DIR/s1r1, DIR/s1r2,
#       DIR/s2r1, DIR/s2r2 (with one replica: DIR/s1r1, DIR/s2r1), loads the
#       schema, writes their names to DIR/nodes and prints the first one's
#       HTTP URL (its ubc.records is the Distributed table). With --rollups
#       also the report's daily roll-ups (cluster-rollups.sql, with replicas
#       cluster-replicated-rollups.sql).
#   scripts/fleet-replicated.sh stop DIR
#       stops every server started in DIR, by process id
#   scripts/fleet-replicated.sh run [--records N] [--uploader PATH]
#       in a scratch folder: starts two shards of two replicas, plays N
#       generated records (default 1,000,000) in through the uploader and the
#       gateway (scripts/gateway.sh) while
#       replica s1r2 is killed with SIGKILL and restarted, then shows that both
#       replicas of each shard hold every record once, that their roll-ups
#       agree, and that the report from the roll-ups (--report PATH, the
#       ubc-report to run) equals the report from the records. Exit 0 when
#       they do.
#       Bounded: the upload by --timeout, each wait by its own limit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ch="$root/scripts/clickhouse-server.sh"
usage() {
    echo "usage: $0 start DIR [--replicas 1|2] [--rollups] | stop DIR | run [--records N] [--uploader PATH] [--report PATH]" >&2
    exit 2
}

. "$root/scripts/lib/loopback.sh"
# q DIR/NODE SQL: runs SQL on that server as the operator.
q() { clickhouse-client --config-file "$1/client.xml" --host 127.0.0.1 --port "$(cat "$1/tcp_port")" --query "$2"; }

# Servers' data in memory where there is a tmpfs: thousands of merged-away
# part files are removed in an instant there, not in minutes.
scratch_base() { if [ -d /dev/shm ] && [ -w /dev/shm ]; then echo /dev/shm; else echo /tmp; fi; }

# The local tables of schema.sql, renamed and, with replicas, replicated
# (each under its own ZooKeeper path, the records without deduplication, as
# cluster-replicated.sql says).
local_schema() {
    local engine='ENGINE = ReplacingMergeTree' settings=''
    if [ "$1" = 2 ]; then
        engine="ENGINE = ReplicatedReplacingMergeTree('/clickhouse/tables/{shard}/ubc/\\1', '{replica}')"
        settings='s/^\(ORDER BY .*\);\nCREATE TABLE IF NOT EXISTS ubc\.records_local$/\1\nSETTINGS replicated_deduplication_window = 0;/;t;'
    fi
    sed -e '/^CREATE TABLE IF NOT EXISTS ubc\.[a-z_]*$/{s/$/_local/;h}' \
        -e "/^ENGINE = ReplacingMergeTree$/{G;s|^ENGINE = ReplacingMergeTree\nCREATE TABLE IF NOT EXISTS ubc\.\(.*\)$|$engine|}" \
        -e "/^ORDER BY/{G;${settings}s/\n.*//}" \
        "$root/server/clickhouse/schema.sql"
}

# remote_servers for the nodes' current ports.
cluster_xml() {
    local dir=$1 replicas=$2 password=$3 s r
    printf '<yandex><remote_servers><ubc_cluster>'
    for s in 1 2; do
        printf '<shard><internal_replication>%s</internal_replication>' "$([ "$replicas" = 2 ] && echo true || echo false)"
        for r in $(seq 1 "$replicas"); do
            printf '<replica><host>127.0.0.1</host><port>%s</port><user>default</user><password>%s</password></replica>' \
                "$(cat "$dir/s${s}r$r/tcp_port")" "$password"
        done
        printf '</shard>'
    done
    printf '</ubc_cluster></remote_servers></yandex>\n'
}

# replica.xml for NODE-DIR with ZooKeeper at HOST:PORT. Its interserver port
# is taken again when free, else another one: only the replica itself
# announces it (through ZooKeeper), so the others need not restart.
replica_config() {
    local node=$1 zk=$2 name
    name=$(basename "$1")
    port_free "$(cat "$node/interserver_port")" || free_port > "$node/interserver_port"
    sed -e "s/@ZK_HOST@/${zk%:*}/" -e "s/@ZK_PORT@/${zk#*:}/" \
        -e "s/@SHARD@/0${name:1:1}/" -e "s/@REPLICA@/$name/" \
        -e "s/@INTERSERVER_HOST@/127.0.0.1/" \
        -e "s/@INTERSERVER_PORT@/$(cat "$node/interserver_port")/" \
        "$root/server/clickhouse/replica.xml" > "$node/config.d/replica.xml"
}

start_all() {
    local dir=$1 replicas=$2 rollups=${3:-0} nodes=() zk="" node s r
    for s in 1 2; do for r in $(seq 1 "$replicas"); do nodes+=("s${s}r$r"); done; done
    printf '%s\n' "${nodes[@]}" > "$dir/nodes"
    [ "$replicas" = 2 ] && zk=$("$root/scripts/zookeeper.sh" start "$dir/zk")
    # Every server must know the others' ports before it starts, and reach
    # them as the operator: one operator password for all.
    local password
    password=$(cat "$dir/operator_password" 2>/dev/null || true)
    [ -n "$password" ] || { password=$(random_secret); (umask 077; echo "$password" > "$dir/operator_password"); }
    for node in "${nodes[@]}"; do
        mkdir -p "$dir/$node/config.d"
        (umask 077; echo "$password" > "$dir/$node/operator_password")
        for f in http_port tcp_port interserver_port; do
            [ -s "$dir/$node/$f" ] || free_port > "$dir/$node/$f"
        done
    done
    # A server that could not take its port starts on another one: then the
    # others learn the new address and start again (a restart keeps ports).
    local cluster written=""
    for _ in 1 2 3; do
        cluster=$(cluster_xml "$dir" "$replicas" "$password")
        [ "$cluster" = "$written" ] && break
        for node in "${nodes[@]}"; do
            (umask 077; echo "$cluster" > "$dir/$node/config.d/cluster.xml")
            if [ "$replicas" = 2 ]; then replica_config "$dir/$node" "$zk"; fi
            "$ch" start "$dir/$node" > "$dir/$node/url"
        done
        written=$cluster
    done
    [ "$cluster" = "$written" ] || { echo "the servers' ports kept changing" >&2; return 1; }
    for node in "${nodes[@]}"; do
        if [ "$replicas" = 2 ]; then
            local_schema 2 | cat - "$root/server/clickhouse/cluster-replicated.sql"
            [ "$rollups" = 0 ] || cat "$root/server/clickhouse/cluster-replicated-rollups.sql"
        else
            local_schema 1 | cat - "$root/server/clickhouse/cluster.sql" "$root/server/clickhouse/erasure-requests.sql"
            [ "$rollups" = 0 ] || cat "$root/server/clickhouse/cluster-rollups.sql"
        fi | "$ch" query "$dir/$node"
    done
    cat "$dir/${nodes[0]}/url"
}

stop_all() {
    local dir=$1 node
    [ -d "$dir/gateway" ] && "$root/scripts/gateway.sh" stop "$dir/gateway"
    for node in $(cat "$dir/nodes" 2>/dev/null); do "$ch" stop "$dir/$node"; done
    "$root/scripts/zookeeper.sh" stop "$dir/zk"
}

# Polls until SQL on NODE prints EXPECTED, for at most SECONDS.
wait_for() {
    local node=$1 sql=$2 expected=$3 seconds=$4 got=""
    for _ in $(seq 1 $(( seconds * 2 ))); do
        got=$(q "$node" "$sql" 2>/dev/null || true)
        [ "$got" = "$expected" ] && return 0
        sleep 0.5
    done
    echo "gave up waiting after ${seconds}s: $sql gave '$got', wanted '$expected'" >&2
    return 1
}

run() {
    local records=1000000 uploader="$root/build/bin/ubc-upload" report="$root/build/bin/ubc-report" sync_limit=60
    while [ $# -gt 0 ]; do
        case "$1" in
            --records) records=${2:?}; shift 2 ;;
            --uploader) uploader=${2:?}; shift 2 ;;
            --report) report=${2:?}; shift 2 ;;
            --sync-limit) sync_limit=${2:?}; shift 2 ;;
            *) usage ;;
        esac
    done
    [ -x "$uploader" ] || { echo "no uploader at $uploader (cmake --build build --target ubc-upload)" >&2; exit 1; }
    [ -x "$report" ] || { echo "no ubc-report at $report (cmake --build build --target ubc-report)" >&2; exit 1; }
    scratch=$(mktemp -d "$(scratch_base)/kelubc-fleet-replicated.XXXXXX")
    trap 'stop_all "$scratch"; rm -rf "$scratch"' EXIT
    local dir=$scratch
    local url
    start_all "$dir" 2 1 > /dev/null
    echo "two shards x two replicas, ZooKeeper at $(cat "$dir/zk/port"); uploading $records records through a gateway to s1r1"

    # Through the gateway, whose user writes each batch synchronously to a
    # live replica of its shard.
    url=$("$root/scripts/gateway.sh" start "$dir/gateway" --clickhouse "$dir/s1r1" --rate 1000 --burst 1000)
    UBC_UPLOAD_TOKEN=$(cat "$dir/gateway/token") "$uploader" --url "$url" \
        --batch-bytes 1000000 --timeout 900 --generate "$records" --machines 50 \
        "$dir/records.jsonl" > "$dir/upload.out" 2>&1 &
    local upload=$!
    # Kill a replica once some of the records are in, before all are.
    local victim=$dir/s1r2 seen=0
    for _ in $(seq 1 600); do
        seen=$(q "$dir/s1r1" "SELECT count() FROM ubc.records_local" 2>/dev/null || echo 0)
        [ "$seen" -ge $(( records / 10 )) ] && break
        kill -0 "$upload" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$(cat "$victim/pid")"
    echo "killed s1r2 (SIGKILL) with $seen rows on s1r1"
    sleep 3
    "$ch" start "$victim" > /dev/null
    echo "restarted s1r2"
    local status=0
    wait "$upload" || status=$?
    sed 's/^/  uploader: /' "$dir/upload.out"
    [ "$status" = 0 ] || { echo "the upload failed ($status)"; exit 1; }

    # The restarted replica fetches what it missed, records and roll-ups: once
    # it is writable again, SYNC REPLICA returns when its queue from ZooKeeper
    # is done.
    local node
    # All of it within one limit.
    local deadline=$(( SECONDS + sync_limit )) left
    wait_for "$victim" "SELECT min(is_readonly) FROM system.replicas" 0 "$sync_limit" || true
    for node in $(cat "$dir/nodes"); do
        for table in $(q "$dir/$node" "SELECT table FROM system.replicas WHERE database = 'ubc' ORDER BY table"); do
            left=$(( deadline - SECONDS )); [ $left -gt 1 ] || left=1
            timeout "$left" clickhouse-client --config-file "$dir/$node/client.xml" --host 127.0.0.1 \
                --port "$(cat "$dir/$node/tcp_port")" --receive_timeout "$left" \
                --query "SYSTEM SYNC REPLICA ubc.$table" \
                || echo "$node did not catch up on $table within ${sync_limit}s"
        done
    done
    local total=0 ok=1 a b
    for s in 1 2; do
        a=$(q "$dir/s${s}r1" "SELECT count(), uniqExact(sessionid, seq), sum(cityHash64(sessionid, seq)) FROM ubc.records_local FINAL")
        b=$(q "$dir/s${s}r2" "SELECT count(), uniqExact(sessionid, seq), sum(cityHash64(sessionid, seq)) FROM ubc.records_local FINAL")
        echo "shard $s: replica 1 holds $(echo "$a" | cut -f1) records, replica 2 $(echo "$b" | cut -f1)"
        [ "$a" = "$b" ] || { echo "  the replicas of shard $s differ"; ok=0; }
        [ "$(echo "$a" | cut -f1)" = "$(echo "$a" | cut -f2)" ] || { echo "  shard $s holds a record twice"; ok=0; }
        total=$(( total + $(echo "$a" | cut -f1) ))
        # Records rolled up per session and per command, and the projects'
        # records: the killed replica got its roll-ups by fetching, as its records.
        rolled="SELECT (SELECT countMerge(rows) FROM ubc.records_local_by_session_day),
                       (SELECT sum(rows) FROM ubc.records_local_by_command_day),
                       (SELECT uniqExact(sessionid, seq) FROM ubc.records_local_project_records)"
        a=$(q "$dir/s${s}r1" "$rolled"); b=$(q "$dir/s${s}r2" "$rolled")
        echo "  roll-ups by session, by command, of projects: replica 1 counts $(echo "$a" | tr '\t' ' '), replica 2 $(echo "$b" | tr '\t' ' ')"
        [ "$a" = "$b" ] || { echo "  the roll-ups of shard $s differ"; ok=0; }
    done
    echo "s1r2 fetched $(q "$victim" "SELECT sum(value) FROM system.events WHERE event = 'ReplicatedPartFetches'") parts after its restart"
    echo "both shards hold $total records of $records sent"
    [ "$total" = "$records" ] || ok=0
    # The report reads the roll-ups (their queries show in its debug log) and
    # answers as from the records themselves.
    local r
    for r in rollups raw; do
        QT_LOGGING_RULES="kelubc.report.clickhouse.debug=true" "$report" --quiet --clickhouse "http://127.0.0.1:$(cat "$dir/s1r1/http_port")" \
            --user default --password-file "$dir/operator_password" --json "$dir/$r.json" \
            $([ $r = raw ] && echo --raw) 2> "$dir/$r.log" || { echo "ubc-report failed: $(tail -3 "$dir/$r.log")"; ok=0; }
    done
    # Roll-ups that disagree (a replica killed between two views) are read
    # no further: the records answer.
    grep 'roll-ups disagree' "$dir/rollups.log" || true
    grep -q 'FROM ubc.records_by_session_day' "$dir/rollups.log" || { echo "the report did not read the roll-ups"; ok=0; }
    # A request cut off by the kill is sent again, and its batch stored twice
    # on the shard that took it the first time: the roll-ups still count each
    # record once.
    if python3 - "$dir/rollups.json" "$dir/raw.json" "$records" <<'EOF'
import json, sys
a, b = (json.load(open(f)) for f in sys.argv[1:3])
for s in (a, b):
    s.pop("input", None)
# The first few differences, by path, for the log.
def diff(x, y, path, out):
    if isinstance(x, dict) and isinstance(y, dict):
        for k in sorted(set(x) | set(y)):
            diff(x.get(k), y.get(k), path + "." + k, out)
    elif isinstance(x, list) and isinstance(y, list) and len(x) == len(y):
        for i, (u, v) in enumerate(zip(x, y)):
            diff(u, v, "%s[%d]" % (path, i), out)
    elif x != y:
        out.append("%s: %s from the roll-ups, %s from the records" % (path, json.dumps(x)[:80], json.dumps(y)[:80]))
out = []
diff(a, b, "", out)
for line in out[:8]:
    print("  " + line)
sys.exit(0 if not out and a["totals"]["records"] == int(sys.argv[3]) else 1)
EOF
    then echo "the report from the roll-ups equals the report from the records: $records records"
    else echo "the report from the roll-ups differs from the records'"; ok=0; fi
    if [ $ok = 1 ]; then echo "every replica holds every record once"; else echo "replicas incomplete"; exit 1; fi
}

[ $# -ge 1 ] || usage
case "$1" in
    start)
        [ $# -ge 2 ] || usage
        dir=$(mkdir -p "$2" && cd "$2" && pwd)
        replicas=2 rollups=0
        shift 2
        while [ $# -gt 0 ]; do
            case "$1" in
                --replicas) [ "${2:-}" = 1 ] || [ "${2:-}" = 2 ] || usage; replicas=$2; shift 2 ;;
                --rollups) rollups=1; shift ;;
                *) usage ;;
            esac
        done
        start_all "$dir" "$replicas" "$rollups" ;;
    stop)
        [ $# -eq 2 ] || usage
        stop_all "$2" ;;
    run) shift; run "$@" ;;
    *) usage ;;
esac
