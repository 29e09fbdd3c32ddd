#!/usr/bin/env bash
# Erases every record of one or more machines (by gid, the machine's digest)
# from every shard and replica of the fleet's store, through a mutation
# (ALTER TABLE ... DELETE) on each server's table of records.
#
#   erase-machine.sh [--dry-run] [--host H] [--port P] [--config-file F]
#                    [--timeout S] (GID... | --requests)
#
# --requests erases the machines listed in ubc.erasure_requests (on any
# server) that still have records. The report's daily roll-ups lose them too;
# run one erasure at a time (two at once would take a machine's command
# counts back twice). --dry-run prints how many records each
# server holds of those machines and removes nothing. Waits at most S seconds
# (default 600) until no server holds any of them. Exit 0 when erased (or
# nothing to erase), 1 when a server fails or the wait runs out, 2 on usage.
set -euo pipefail
usage() {
    echo "usage: $0 [--dry-run] [--host H] [--port P] [--config-file F] [--timeout S] (GID... | --requests)" >&2
    exit 2
}
. "$(dirname "$0")/fleet-servers.sh"

timeout=600
requests=0
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --timeout) timeout=${2:-}; [[ "$timeout" =~ ^[0-9]+$ ]] || usage; shift 2 ;;
        --requests) requests=1; shift ;;
        *) args+=("$1"); shift ;;
    esac
done
fleet_options "${args[@]}"
if [ $requests = 1 ]; then [ ${#ARGS[@]} = 0 ] || usage; else [ ${#ARGS[@]} -gt 0 ] || usage; fi
fleet_discover

machines=()
if [ $requests = 1 ]; then
    for line in "${SERVERS[@]}"; do
        read -r _ _ h p <<< "$line"
        # hex() keeps any digest a request carried intact through the shell.
        mapfile -t -O ${#machines[@]} machines < <(on "$h" "$p" "SELECT DISTINCT hex(gid) FROM ubc.erasure_requests" \
            || echo "shard server $h:$p: erasure requests not readable" >&2)
    done
    list=""
    for m in $(printf '%s\n' "${machines[@]}" | sort -u); do list+="${list:+, }unhex('$m')"; done
    [ -n "$list" ] || { echo "no erasure requests"; exit 0; }
else
    list=""
    for g in "${ARGS[@]}"; do
        [ -n "$g" ] || usage
        list+="${list:+, }$(sql_string "$g")"
    done
fi
where="gid IN ($list)"

# The report's daily roll-ups, where they exist, lose the machine too: its
# rows go from those that keep gid; the per-day command counts, which mix
# machines, are given the negated counts of its sessions first.
rollup_tables
counted="(SELECT count() FROM $LOCAL_TABLE WHERE $where)"
has_rollup _by_command_session && counted+=" + (SELECT count() FROM ${LOCAL_TABLE}_by_command_session WHERE $where)"

# Counts per server (records, and roll-up rows still to go); prints them and leaves the sum in $total.
count_all() {
    local out
    out=$(fleet_each "SELECT $counted") || return 1
    [ "${1:-}" = quiet ] || echo "$out" | awk -F'\t' '{ printf "  %s: %s records\n", $1, $2 }'
    total=$(echo "$out" | awk -F'\t' '{ s += $2 } END { print s + 0 }')
}

echo "records of the machine(s) to erase, per server:"
count_all
if [ $dry_run = 1 ]; then echo "dry run: nothing removed"; exit 0; fi
[ "$total" -gt 0 ] || { echo "nothing to erase"; exit 0; }
if has_rollup _by_command_day && has_rollup _by_command_session; then
    fleet_change "INSERT INTO ${LOCAL_TABLE}_by_command_day SELECT pcode, day, fncode, kind, label, firstKey, month, -sum(rows) AS negated
                  FROM ${LOCAL_TABLE}_by_command_session WHERE $where
                  GROUP BY pcode, day, fncode, kind, label, firstKey, month HAVING negated != 0"
fi
for r in _by_session_day _by_command_session _by_command_machine _project_records; do
    has_rollup $r && fleet_change "ALTER TABLE ${LOCAL_TABLE}$r DELETE WHERE $where"
done
fleet_change "ALTER TABLE $LOCAL_TABLE DELETE WHERE $where"
for _ in $(seq 1 "$timeout"); do
    count_all quiet
    [ "$total" = 0 ] && { echo "erased: no server holds records of the machine(s)"; exit 0; }
    sleep 1
done
echo "after ${timeout}s the servers still hold $total records of the machine(s)" >&2
exit 1
