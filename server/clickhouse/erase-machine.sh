#!/usr/bin/env bash
# Erases everything stored of one or more machines (by gid, the machine's
# digest) from every shard and replica of the fleet's store, through
# mutations (ALTER TABLE ... DELETE) on each server's tables: the records,
# the helpers' coded events (ubc.coded_events), the uploaders' loss reports
# (ubc.upload_losses) and the report's daily roll-ups.
#
#   erase-machine.sh [--dry-run] [--host H] [--port P] [--config-file F]
#                    [--timeout S] (GID... | --requests)
#
# --requests erases the machines listed in ubc.erasure_requests (on any
# server) that still have rows; the requests are kept. Run one erasure at a
# time (two at once would take a machine's command counts back twice from the
# roll-ups). --dry-run prints how many rows of each table each server holds
# of those machines and removes nothing. Waits at most S seconds
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

# What goes, per server: the records, the helpers' coded events and the
# uploaders' loss reports (each keyed by the machine's digest), and the
# report's daily roll-ups where they exist: their rows go from those that keep
# gid; the per-day command counts, which mix machines, are given the negated
# counts of its sessions first. The requests themselves stay: they are the
# log of what was asked, and what erases a machine that sends again.
rollup_tables
data=("$LOCAL_TABLE")
counted="(SELECT count() FROM $LOCAL_TABLE WHERE $where)"
for t in "$CODED_TABLE" "$LOSSES_TABLE"; do
    [ -n "$t" ] || continue
    data+=("$t")
    counted+=", (SELECT count() FROM $t WHERE $where)"
done
labels="records${CODED_TABLE:+ coded_events}${LOSSES_TABLE:+ upload_losses}"
if has_rollup _by_command_session; then
    counted+=", (SELECT count() FROM ${LOCAL_TABLE}_by_command_session WHERE $where)"
    labels+=" roll-up_rows"
fi

# Counts per server; prints them and leaves the sum in $total.
count_all() {
    local out
    out=$(fleet_each "SELECT $counted") || return 1
    [ "${1:-}" = quiet ] || echo "$out" | awk -F'\t' -v labels="$labels" '
        BEGIN { n = split(labels, name, " ") }
        { line = "  " $1 ":"; for (i = 1; i <= n; ++i) line = line (i > 1 ? "," : "") " " $(i + 1) " " name[i]; print line }'
    total=$(echo "$out" | awk -F'\t' '{ for (i = 2; i <= NF; ++i) s += $i } END { print s + 0 }')
}

echo "rows of the machine(s) to erase, per server:"
count_all
if [ $dry_run = 1 ]; then echo "dry run: nothing removed"; exit 0; fi
[ "$total" -gt 0 ] || { echo "nothing to erase"; exit 0; }
if has_rollup _by_command_day && has_rollup _by_command_session; then
    fleet_change "INSERT INTO ${LOCAL_TABLE}_by_command_day SELECT pcode, day, fncode, kind, label, firstKey, month, -sum(rows) AS negated
                  FROM ${LOCAL_TABLE}_by_command_session WHERE $where
                  GROUP BY pcode, day, fncode, kind, label, firstKey, month HAVING negated != 0"
fi
# Every roll-up with a gid column, whichever ubc-report made them.
read -r _ _ first_host first_port <<< "${SERVERS[0]}"
for r in "${ROLLUPS[@]}"; do
    [ "$(on "$first_host" "$first_port" "SELECT count() FROM system.columns
                                          WHERE database = 'ubc' AND table = '${LOCAL_TABLE#ubc.}$r' AND name = 'gid'")" = 1 ] \
        || continue
    fleet_change "ALTER TABLE ${LOCAL_TABLE}$r DELETE WHERE $where"
done
for t in "${data[@]}"; do fleet_change "ALTER TABLE $t DELETE WHERE $where"; done
for _ in $(seq 1 "$timeout"); do
    count_all quiet
    [ "$total" = 0 ] && { echo "erased: no server holds rows of the machine(s)"; exit 0; }
    sleep 1
done
echo "after ${timeout}s the servers still hold $total rows of the machine(s)" >&2
exit 1
