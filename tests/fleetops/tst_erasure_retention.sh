#!/usr/bin/env bash
# Erasure and retention against real servers: two shards with REPLICAS (1 or 2)
# replicas each. Generated records, coded events and loss reports of 12
# machines over six months; then a dry run of each script, a machine erased by
# name, one by an erasure request, and the months older than two dropped,
# checking after each step every server's tables and roll-up of sessions, the
# rows meant to go and the ones meant to stay.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
replicas=${1:?usage: $0 REPLICAS UBC-REPORT}
report=${2:?usage: $0 REPLICAS UBC-REPORT}
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
scratch=$(mktemp -d "$base/kelubc-tst-erasure.XXXXXX")
trap '"$root/scripts/fleet-replicated.sh" stop "$scratch"; rm -rf "$scratch"' EXIT
"$root/scripts/fleet-replicated.sh" start "$scratch" --replicas "$replicas" --rollups > /dev/null
nodes=$(cat "$scratch/nodes")
port() { cat "$scratch/$1/tcp_port"; }
q() { "$root/scripts/clickhouse-server.sh" query "$scratch/$1" "$2"; }
failures=0
check() { # check WHAT EXPECTED GOT
    if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
# One line per server: count and checksum of the records, coded events and
# loss reports matching WHERE, then the records the roll-up of sessions
# counts there. MONTH in WHERE stands for each table's month.
state() {
    local w=$1
    for n in $nodes; do
        echo "$n $(q "$n" "SELECT
            (SELECT count() FROM ubc.records_local WHERE ${w//MONTH/toYYYYMM(time)}),
            (SELECT sum(cityHash64(sessionid, seq)) FROM ubc.records_local WHERE ${w//MONTH/toYYYYMM(time)}),
            (SELECT count() FROM ubc.coded_events_local WHERE ${w//MONTH/toYYYYMM(time)}),
            (SELECT sum(cityHash64(sessionid, seq)) FROM ubc.coded_events_local WHERE ${w//MONTH/toYYYYMM(time)}),
            (SELECT count() FROM ubc.upload_losses_local WHERE ${w//MONTH/toYYYYMM(reported)}),
            (SELECT sum(cityHash64(gid, lossid)) FROM ubc.upload_losses_local WHERE ${w//MONTH/toYYYYMM(reported)}),
            (SELECT countMerge(rows) FROM ubc.records_local_by_session_day WHERE ${w//MONTH/month})" | tr '\t' ' ')"
    done
}
# The servers whose line has a count that is not zero, or one that is.
held() { awk '$2 != 0 || $4 != 0 || $6 != 0 || $8 != 0'; }
lacking() { awk '$2 == 0 || $4 == 0 || $6 == 0 || $8 == 0'; }
# A script that fails is reported, and the checks after it still run.
erase() { "$root/server/clickhouse/erase-machine.sh" --timeout 30 "$@" || echo "FAIL erase-machine.sh $* exited $?"; }
retain() { "$root/server/clickhouse/drop-old-months.sh" "$@" || echo "FAIL drop-old-months.sh $* exited $?"; }
entry=(--host 127.0.0.1 --port "$(port s1r1)" --config-file "$scratch/s1r1/client.xml")

# Without replicas, the loss reports' table as a store made before it had
# month partitions: retention has to reach it by a mutation.
if [ "$replicas" = 1 ]; then
    for n in $nodes; do
        q "$n" "DROP TABLE ubc.upload_losses_local"
        q "$n" "CREATE TABLE ubc.upload_losses_local (gid String, lossid UInt64, reported DateTime, kind String, records UInt64)
                ENGINE = ReplacingMergeTree ORDER BY (gid, lossid, kind)"
    done
fi
# Machine m7 is named o'brien\ to show that no name reaches SQL unescaped.
machine="if(number % 12 = 7, 'o\\'brien\\\\', concat('m', toString(number % 12)))"
month="addMonths(now(), -toInt32(number % 6))"
q s1r1 "SET insert_distributed_sync = 1; INSERT INTO ubc.records (gid, sessionid, seq, time)
        SELECT $machine, concat('s', toString(number % 300)), number, $month FROM numbers(24000)"
q s1r1 "SET insert_distributed_sync = 1; INSERT INTO ubc.coded_events (gid, sessionid, seq, code, time)
        SELECT $machine, concat('c', toString(number % 60)), number, '1', $month FROM numbers(2400)"
q s1r1 "SET insert_distributed_sync = 1; INSERT INTO ubc.upload_losses (gid, lossid, reported, kind, records)
        SELECT $machine, number, $month, 'queue_dropped', 1 FROM numbers(1200)"
# The inserts waited for one replica of each shard; the checks read them all.
if [ "$replicas" = 2 ]; then
    for n in $nodes; do
        for t in records_local coded_events_local upload_losses_local records_local_by_session_day; do
            q "$n" "SYSTEM SYNC REPLICA ubc.$t"
        done
    done
fi
q s1r1 "SELECT count() FROM ubc.records" | grep -qx 24000 || { echo "FAIL records not loaded"; exit 1; }
before=$(state 1)
# Every server holds rows of every table: the checks below look at all of them.
check "every server holds rows of each table" "" "$(echo "$before" | lacking)"

erase "${entry[@]}" --dry-run m3 "o'brien\\" > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "erase dry run changes nothing" "$before" "$(state 1)"
check "erase dry run counts both machines" 4000 "$(grep -o '[0-9]* records' "$scratch/out" | awk '{ s += $1 } END { print s / '"$replicas"' }')"

others=$(state "gid NOT IN ('m3', 'o\\'brien\\\\')")
erase "${entry[@]}" m3 "o'brien\\" > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "erased machines gone from every server and table" "" "$(state "gid IN ('m3', 'o\\'brien\\\\')" | held)"
check "other machines untouched" "$others" "$(state "gid NOT IN ('m3', 'o\\'brien\\\\')")"

# m4 and m10 are on one shard with the same records in the same month: the
# second erasure takes back the same counts as the first, which a replicated
# table must not drop as a copy.
for m in m4 m10; do
    q "$(echo "$nodes" | tail -1)" "INSERT INTO ubc.erasure_requests VALUES ('$m', now())"
    others=$(state "gid NOT IN ('m3', 'm4', 'm10', 'o\\'brien\\\\')")
    erase "${entry[@]}" --requests > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
    check "requested machine $m gone from every server and table" "" "$(state "gid = '$m'" | held)"
    check "machines not requested untouched" "$others" "$(state "gid NOT IN ('m3', 'm4', 'm10', 'o\\'brien\\\\')")"
done
if [ "$replicas" = 2 ]; then for n in $nodes; do q "$n" "SYSTEM SYNC REPLICA ubc.records_local_by_command_day"; done; fi
check "command counts of the roll-ups still those of the records" "$(q s1r1 "SELECT count() FROM ubc.records")" \
    "$(q s1r1 "SELECT sum(rows) FROM ubc.records_by_command_day")"

cutoff="MONTH < toYYYYMM(addMonths(today(), -2))"
before=$(state 1)
retain "${entry[@]}" --dry-run 2 > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "retention dry run changes nothing" "$before" "$(state 1)"
check "retention dry run names the three old months" 3 "$(grep -o 'month [0-9]*' "$scratch/out" | sort -u | wc -l)"
recent=$(state "NOT ($cutoff)")
retain "${entry[@]}" 2 > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "old months gone from every server and table" "" "$(state "$cutoff" | held)"
check "recent months kept" "$recent" "$(state "NOT ($cutoff)")"
check "recent months are not empty" "" "$(echo "$recent" | lacking)"

# The replicated layout's roll-ups are made from the report's own statements.
check "cluster-replicated-rollups.sql is ubc-report's own" "$("$report" --rollup-sql replicated)" \
    "$(grep -v '^--' "$root/server/clickhouse/cluster-replicated-rollups.sql")"
# The report reads the roll-ups the views kept on each replica of the layout
# and answers as from the records.
for r in rollups raw; do
    QT_LOGGING_RULES="kelubc.report.clickhouse.debug=true" "$report" --quiet --json "$scratch/$r.json" \
        --clickhouse "http://127.0.0.1:$(cat "$scratch/s1r1/http_port")" --user default \
        --password-file "$scratch/operator_password" $([ $r = raw ] && echo --raw) 2> "$scratch/$r.log" \
        || echo "FAIL ubc-report: $(tail -2 "$scratch/$r.log")"
done
check "the report reads the roll-ups" 1 "$(grep -c 'sessionDays.*FROM ubc.records_by_session_day' "$scratch/rollups.log")"
# Erasure and retention keep the roll-ups in step: none left for the records.
check "the roll-ups agree after erasure" 0 "$(grep -c 'roll-ups disagree' "$scratch/rollups.log")"
check "the report from the roll-ups is the report from the records" same "$(python3 -c '
import json, sys
a, b = (json.load(open(f)) for f in sys.argv[1:])
[s.pop("input") for s in (a, b)]
print("same" if a == b and a["totals"]["records"] > 0 else "different")' "$scratch/rollups.json" "$scratch/raw.json")"

[ $failures = 0 ] || { echo "$failures check(s) failed"; exit 1; }
