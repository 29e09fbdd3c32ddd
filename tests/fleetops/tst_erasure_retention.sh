#!/usr/bin/env bash
# Erasure and retention against real servers: two shards with REPLICAS (1 or 2)
# replicas each. Generated records of 12 machines over six months; then a dry
# run of each script, a machine erased by name, one by an erasure request,
# and the months older than two dropped, checking after each step every
# server's records, the ones meant to go and the ones meant to stay.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
replicas=${1:?usage: $0 REPLICAS}
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
scratch=$(mktemp -d "$base/kelubc-tst-erasure.XXXXXX")
trap '"$root/scripts/fleet-replicated.sh" stop "$scratch"; rm -rf "$scratch"' EXIT
"$root/scripts/fleet-replicated.sh" start "$scratch" --replicas "$replicas" > /dev/null
nodes=$(cat "$scratch/nodes")
port() { cat "$scratch/$1/tcp_port"; }
q() { "$root/scripts/clickhouse-server.sh" query "$scratch/$1" "$2"; }
failures=0
check() { # check WHAT EXPECTED GOT
    if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
# One line per server: count and checksum of the records matching WHERE.
state() {
    for n in $nodes; do
        echo "$n $(q "$n" "SELECT count(), sum(cityHash64(sessionid, seq)) FROM ubc.records_local WHERE $1" | tr '\t' ' ')"
    done
}
# A script that fails is reported, and the checks after it still run.
erase() { "$root/server/clickhouse/erase-machine.sh" --timeout 30 "$@" || echo "FAIL erase-machine.sh $* exited $?"; }
retain() { "$root/server/clickhouse/drop-old-months.sh" "$@" || echo "FAIL drop-old-months.sh $* exited $?"; }
entry=(--host 127.0.0.1 --port "$(port s1r1)" --config-file "$scratch/s1r1/client.xml")

# Machine m7 is named o'brien\ to show that no name reaches SQL unescaped.
q s1r1 "SET insert_distributed_sync = 1; INSERT INTO ubc.records (gid, sessionid, seq, time)
        SELECT if(number % 12 = 7, 'o\\'brien\\\\', concat('m', toString(number % 12))),
               concat('s', toString(number % 300)), number, addMonths(now(), -toInt32(number % 6))
        FROM numbers(24000)"
# The insert waited for one replica of each shard; the checks read them all.
if [ "$replicas" = 2 ]; then for n in $nodes; do q "$n" "SYSTEM SYNC REPLICA ubc.records_local"; done; fi
q s1r1 "SELECT count() FROM ubc.records" | grep -qx 24000 || { echo "FAIL records not loaded"; exit 1; }
before=$(state 1)
# Every server holds some of the records: the checks below look at all of them.
check "every server holds records" "" "$(echo "$before" | awk '$2 == 0')"

erase "${entry[@]}" --dry-run m3 "o'brien\\" > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "erase dry run changes nothing" "$before" "$(state 1)"
check "erase dry run counts both machines" 4000 "$(grep -o '[0-9]* records' "$scratch/out" | awk '{ s += $1 } END { print s / '"$replicas"' }')"

others=$(state "gid NOT IN ('m3', 'o\\'brien\\\\')")
erase "${entry[@]}" m3 "o'brien\\" > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "erased machines gone from every server" "" "$(state "gid IN ('m3', 'o\\'brien\\\\')" | awk '$2 != 0')"
check "other machines untouched" "$others" "$(state "gid NOT IN ('m3', 'o\\'brien\\\\')")"

q "$(echo "$nodes" | tail -1)" "INSERT INTO ubc.erasure_requests VALUES ('m5', now())"
others=$(state "gid NOT IN ('m3', 'm5', 'o\\'brien\\\\')")
erase "${entry[@]}" --requests > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "requested machine gone from every server" "" "$(state "gid = 'm5'" | awk '$2 != 0')"
check "machines not requested untouched" "$others" "$(state "gid NOT IN ('m3', 'm5', 'o\\'brien\\\\')")"

cutoff="toYYYYMM(time) < toYYYYMM(addMonths(today(), -2))"
before=$(state 1)
retain "${entry[@]}" --dry-run 2 > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "retention dry run changes nothing" "$before" "$(state 1)"
check "retention dry run names the three old months" 3 "$(grep -o 'month [0-9]*' "$scratch/out" | sort -u | wc -l)"
recent=$(state "NOT ($cutoff)")
retain "${entry[@]}" 2 > "$scratch/out"; grep FAIL "$scratch/out" && failures=$((failures + 1))
check "old months gone from every server" "" "$(state "$cutoff" | awk '$2 != 0')"
check "recent months kept" "$recent" "$(state "NOT ($cutoff)")"
check "recent months are not empty" "" "$(echo "$recent" | awk '$2 == 0')"

[ $failures = 0 ] || { echo "$failures check(s) failed"; exit 1; }
