# Sourced by the operator's scripts (erase-machine.sh, drop-old-months.sh):
# finds every server that holds the fleet's records, from one of them.
#
# Options the scripts share, parsed by fleet_options (the rest is left in ARGS):
#   --host H --port P     a server of the fleet (default 127.0.0.1:9000, TCP)
#   --config-file FILE    clickhouse-client configuration (user, password)
#   --dry-run             print what would be removed, change nothing
#
# fleet_discover fills SERVERS with "shard replica host port" lines and sets
# LOCAL_TABLE (the table that holds each server's records), CODED_TABLE and
# LOSSES_TABLE (the same for ubc.coded_events and ubc.upload_losses, empty
# where missing) and REPLICATED (1 when the records' table is replicated: a
# change made on one replica reaches the others through ZooKeeper, so it is
# made once per shard).

host=127.0.0.1
port=9000
client_config=""
dry_run=0
ARGS=()

fleet_options() {
    while [ $# -gt 0 ]; do
        case "$1" in
            --host) host=${2:?--host needs a value}; shift 2 ;;
            --port) port=${2:?--port needs a value}; shift 2 ;;
            --config-file) client_config=${2:?--config-file needs a value}; shift 2 ;;
            --dry-run) dry_run=1; shift ;;
            --) shift; ARGS+=("$@"); break ;;
            -*) echo "unknown option $1" >&2; usage ;;
            *) ARGS+=("$1"); shift ;;
        esac
    done
}

# on HOST PORT SQL: the result as tab-separated text. The scripts' inserts
# are never retries: a replicated table must not drop one as a duplicate of
# an identical earlier block (the same negated counts for two machines).
on() {
    local extra=()
    [ -n "$client_config" ] && extra=(--config-file "$client_config")
    clickhouse-client "${extra[@]}" --host "$1" --port "$2" --insert_deduplicate=0 --query "$3"
}

# engine_of NAME: ubc.NAME's engine with its arguments, empty when missing.
engine_of() {
    on "$host" "$port" "SELECT engine_full FROM system.tables WHERE database = 'ubc' AND name = '$1'" \
        || { echo "cannot reach ClickHouse at $host:$port" >&2; return 1; }
}
# distributed_arg ENGINE N: argument N of Distributed(cluster, database, table, key).
distributed_arg() { echo "$1" | sed -E "s/^Distributed\(([^,]+), *([^,]+), *([^,)]+).*/\\$2/; s/'//g"; }

# local_table NAME: the table that holds each server's part of ubc.NAME (the
# Distributed table's own, or ubc.NAME itself on a single server); nothing
# when ubc.NAME does not exist.
local_table() {
    local engine
    engine=$(engine_of "$1") || exit 1
    case "$engine" in
        Distributed*) echo "ubc.$(distributed_arg "$engine" 3)" ;;
        '') ;;
        *) echo "ubc.$1" ;;
    esac
}

fleet_discover() {
    local engine
    engine=$(engine_of records)
    case "$engine" in
        Distributed*)
            LOCAL_TABLE=ubc.$(distributed_arg "$engine" 3)
            mapfile -t SERVERS < <(on "$host" "$port" \
                "SELECT shard_num, replica_num, host_address, port FROM system.clusters
                 WHERE cluster = '$(distributed_arg "$engine" 1)' ORDER BY shard_num, replica_num" | tr '\t' ' ') ;;
        '') echo "no table ubc.records at $host:$port" >&2; exit 1 ;;
        *) LOCAL_TABLE=ubc.records; SERVERS=("1 1 $host $port") ;;
    esac
    [ ${#SERVERS[@]} -gt 0 ] || { echo "no servers found for ubc.records at $host:$port" >&2; exit 1; }
    local first
    read -r _ _ h p <<< "${SERVERS[0]}"
    first=$(on "$h" "$p" "SELECT engine FROM system.tables WHERE database = 'ubc' AND name = '${LOCAL_TABLE#ubc.}'")
    REPLICATED=0
    case "$first" in Replicated*) REPLICATED=1 ;; esac
    # Beside the records, the helpers' coded events and the uploaders' loss
    # reports carry the machine's digest too; a store made before them has none.
    CODED_TABLE=$(local_table coded_events)
    LOSSES_TABLE=$(local_table upload_losses)
}

# rollup_tables: fills ROLLUPS with the daily roll-ups of LOCAL_TABLE that
# exist (ubc-report --rollup-sql), by their names without the table's.
rollup_tables() {
    local h p
    read -r _ _ h p <<< "${SERVERS[0]}"
    mapfile -t ROLLUPS < <(on "$h" "$p" "SELECT substring(name, length('${LOCAL_TABLE#ubc.}') + 1) FROM system.tables
                                        WHERE database = 'ubc' AND startsWith(name, '${LOCAL_TABLE#ubc.}_')
                                          AND name NOT LIKE '%_view' AND engine != 'MaterializedView'")
}
has_rollup() { printf '%s\n' "${ROLLUPS[@]}" | grep -qx -- "$1"; }

# fleet_each SQL: runs SQL on every server and prints each line of its result
# as "shard S replica R (HOST:PORT)<TAB>line". An unreachable server is
# reported on stderr and skipped when the table is replicated (its peer
# answers for the shard); otherwise it fails.
fleet_each() {
    local line s r h p rows
    for line in "${SERVERS[@]}"; do
        read -r s r h p <<< "$line"
        if ! rows=$(on "$h" "$p" "$1" 2>/dev/null); then
            echo "  shard $s replica $r ($h:$p): unreachable" >&2
            [ "$REPLICATED" = 1 ] || return 1
            continue
        fi
        [ -z "$rows" ] || echo "$rows" | sed "s/^/shard $s replica $r ($h:$p)\t/"
    done
}

# fleet_change SQL: runs SQL on every server, or on one reachable replica of
# each shard when the table is replicated. Fails when a shard is left out.
fleet_change() {
    local done_shards=" " line s r h p
    for line in "${SERVERS[@]}"; do
        read -r s r h p <<< "$line"
        [ "$REPLICATED" = 1 ] && [[ "$done_shards" == *" $s "* ]] && continue
        if on "$h" "$p" "$1"; then
            done_shards+="$s "
        elif [ "$REPLICATED" = 0 ]; then
            echo "shard $s replica $r ($h:$p) failed" >&2
            return 1
        fi
    done
    for line in "${SERVERS[@]}"; do
        read -r s _ _ _ <<< "$line"
        [[ "$done_shards" == *" $s "* ]] || { echo "no replica of shard $s took the change" >&2; return 1; }
    done
}

# The argument as a SQL expression that needs no escaping.
sql_string() { printf "unhex('%s')" "$(printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n')"; }
