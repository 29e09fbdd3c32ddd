#!/usr/bin/env bash
# Drops what is older than N months from every shard and replica of the
# fleet's store: the current month and the N before it are kept. It reaches
# the records, the helpers' coded events (ubc.coded_events), the uploaders'
# loss reports (ubc.upload_losses, by the month they were reported) and the
# report's daily roll-ups. schema.sql partitions each by month
# (toYYYYMM(time), toYYYYMM(reported); the roll-ups by their month), so an
# old month goes whole with ALTER TABLE ... DROP PARTITION. A table made
# without month partitions (by hand, or before schema.sql had them) loses its
# old rows through a mutation by the month of its time column instead
# (ALTER TABLE ... DELETE WHERE toYYYYMM(...) < cutoff): slower, same result.
# ubc.erasure_requests is left whole: each row is the log of a request and
# what keeps erasing a machine that sends again (erase-machine.sh).
#
#   drop-old-months.sh [--dry-run] [--host H] [--port P] [--config-file F]
#                      [--timeout S] N
#
# --dry-run prints the months that would go, with their rows per table and
# server, and removes nothing. Waits at most S seconds (default 600) until no
# server holds an old month. Exit 0 when done, 1 when a server fails or the
# wait runs out, 2 on usage.
set -euo pipefail
usage() { echo "usage: $0 [--dry-run] [--host H] [--port P] [--config-file F] [--timeout S] N" >&2; exit 2; }
. "$(dirname "$0")/fleet-servers.sh"

timeout=600
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --timeout) timeout=${2:-}; [[ "$timeout" =~ ^[0-9]+$ ]] || usage; shift 2 ;;
        *) args+=("$1"); shift ;;
    esac
done
fleet_options "${args[@]}"
[ ${#ARGS[@]} = 1 ] && [[ "${ARGS[0]}" =~ ^[0-9]+$ ]] || usage
fleet_discover
rollup_tables
cutoff=$(on "$host" "$port" "SELECT toYYYYMM(addMonths(today(), -${ARGS[0]}))")

# Each table with the month of its rows: those partitioned by it go by
# partition, the others by a mutation on that expression.
monthly=()      # names
bydate=()       # "name expression"
read -r _ _ first_host first_port <<< "${SERVERS[0]}"
partition_key() {
    on "$first_host" "$first_port" "SELECT partition_key FROM system.tables WHERE database = 'ubc' AND name = '${1#ubc.}'"
}
consider() { # TABLE MONTH-EXPRESSION
    if [ "$(partition_key "$1")" = "$2" ]; then monthly+=("$1"); else bydate+=("$1 $2"); fi
}
consider "$LOCAL_TABLE" "toYYYYMM(time)"
[ -z "$CODED_TABLE" ] || consider "$CODED_TABLE" "toYYYYMM(time)"
[ -z "$LOSSES_TABLE" ] || consider "$LOSSES_TABLE" "toYYYYMM(reported)"
# The roll-ups are made partitioned by month (ubc-report --rollup-sql).
for r in "${ROLLUPS[@]}"; do
    key=$(partition_key "$LOCAL_TABLE$r")
    case "$key" in
        month|'toYYYYMM(time)') monthly+=("$LOCAL_TABLE$r") ;;
        *) echo "roll-up $LOCAL_TABLE$r is partitioned by '$key', not by month" >&2; exit 1 ;;
    esac
done

# One query per server: table, old month, rows. Only tables partitioned by
# month are listed from system.parts (another table's one partition would
# read as a month before any cutoff).
names=""
for t in "${monthly[@]}"; do names+="${names:+, }'${t#ubc.}'"; done
old="SELECT concat('ubc.', table), partition, sum(rows) FROM system.parts
     WHERE database = 'ubc' AND active AND table IN (${names:-''}) AND toUInt32OrZero(partition) < $cutoff
     GROUP BY table, partition"
for b in "${bydate[@]}"; do
    read -r t expr <<< "$b"
    old+=" UNION ALL SELECT '$t', toString($expr) AS m, count() FROM $t WHERE $expr < $cutoff GROUP BY m"
done

# Prints the old months per server and table; leaves "table month" pairs in $pairs.
list_old() {
    local out
    out=$(fleet_each "$old") || return 1
    [ "${1:-}" = quiet ] || [ -z "$out" ] \
        || echo "$out" | sort | awk -F'\t' '{ printf "  %s: %s month %s, %s rows\n", $1, $2, $3, $4 }'
    pairs=$(echo "$out" | awk -F'\t' 'NF == 4 { print $2, $3 }' | sort -u)
}

echo "months before $cutoff, per server and table:"
list_old
if [ $dry_run = 1 ]; then echo "dry run: nothing removed"; exit 0; fi
[ -n "$pairs" ] || { echo "no month to drop"; exit 0; }
while read -r t m; do
    [[ "$m" =~ ^[0-9]{6}$ ]] || { echo "unexpected month '$m' of $t" >&2; exit 1; }
    if printf '%s\n' "${monthly[@]}" | grep -qx -- "$t"; then
        fleet_change "ALTER TABLE $t DROP PARTITION $m"
    fi
done <<< "$pairs"
for b in "${bydate[@]}"; do
    read -r t expr <<< "$b"
    if echo "$pairs" | grep -q "^$t "; then fleet_change "ALTER TABLE $t DELETE WHERE $expr < $cutoff"; fi
done
# Replicas drop their copy from their replication queue; mutations run in the background.
for _ in $(seq 1 "$timeout"); do
    list_old quiet
    [ -z "$pairs" ] && { echo "dropped; no server holds a month before $cutoff"; exit 0; }
    sleep 1
done
echo "still held after ${timeout}s: $(echo "$pairs" | tr '\n' ' ')" >&2
exit 1
