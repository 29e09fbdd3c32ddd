#!/usr/bin/env bash
# Drops the months of records older than N months from every shard and
# replica of the fleet's store: the current month and the N before it are
# kept, every older month's partition (PARTITION BY toYYYYMM(time)) is dropped
# with ALTER TABLE ... DROP PARTITION.
#
#   drop-old-months.sh [--dry-run] [--host H] [--port P] [--config-file F] N
#
# --dry-run prints the months that would go, with their records per server,
# and removes nothing. Exit 0 when done, 1 when a server fails, 2 on usage.
set -euo pipefail
usage() { echo "usage: $0 [--dry-run] [--host H] [--port P] [--config-file F] N" >&2; exit 2; }
. "$(dirname "$0")/fleet-servers.sh"

fleet_options "$@"
[ ${#ARGS[@]} = 1 ] && [[ "${ARGS[0]}" =~ ^[0-9]+$ ]] || usage
fleet_discover
cutoff=$(on "$host" "$port" "SELECT toYYYYMM(addMonths(today(), -${ARGS[0]}))")
old="SELECT partition, sum(rows) FROM system.parts
     WHERE database = 'ubc' AND table = '${LOCAL_TABLE#ubc.}' AND active
       AND toUInt32OrZero(partition) < $cutoff GROUP BY partition ORDER BY partition"

# Prints the old months per server; leaves their names in $months.
list_old() {
    local out
    out=$(fleet_each "$old") || return 1
    [ "${1:-}" = quiet ] || [ -z "$out" ] || echo "$out" | awk -F'\t' '{ printf "  %s: month %s, %s records\n", $1, $2, $3 }'
    months=$(echo "$out" | cut -f2 | sed '/^$/d' | sort -u | tr '\n' ' ')
}

echo "months before $cutoff, per server:"
list_old
if [ $dry_run = 1 ]; then echo "dry run: nothing removed"; exit 0; fi
[ -n "$months" ] || { echo "no month to drop"; exit 0; }
# The report's daily roll-ups are partitioned by the same months.
rollup_tables
for m in $months; do
    [[ "$m" =~ ^[0-9]{6}$ ]] || { echo "unexpected partition '$m'" >&2; exit 1; }
    for r in "${ROLLUPS[@]}"; do fleet_change "ALTER TABLE ${LOCAL_TABLE}$r DROP PARTITION $m"; done
    fleet_change "ALTER TABLE $LOCAL_TABLE DROP PARTITION $m"
done
# Replicas drop their copy from their replication queue.
for _ in $(seq 1 120); do
    list_old quiet
    [ -z "$months" ] && { echo "dropped; no server holds a month before $cutoff"; exit 0; }
    sleep 1
done
echo "months still held after 120 s: $months" >&2
exit 1
