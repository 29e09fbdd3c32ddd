#!/usr/bin/env bash
# ubc-ingest between a real nginx gateway and a real clickhouse-server on
# loopback. Each case starts its own servers:
#   kill     the service killed with SIGKILL mid-load and restarted: every
#            record the desktops were told is stored is stored once
#   sync     no 200 leaves before the rows of that request are synced (the
#            system calls, seen with strace)
#   refused  a body that is not rows is answered as the store's parse error:
#            the uploader sets the one line aside, and nothing else sent
#            meanwhile (in the same inserts) is lost
#   agree    no row the service takes is one ClickHouse refuses (a refused
#            row in the spool would hold up or split the inserts of others),
#            and each refusal is a parse error the uploader understands
#   outage   ClickHouse stopped: requests are still answered 200 from the
#            spool, through a SIGKILL and restart of the service as well,
#            and all of it is stored once ClickHouse is back
#   tst_ingest.sh CASE SOURCE_DIR UBC_INGEST UBC_UPLOAD   (KEEP=1 leaves the scratch folder)
set -uo pipefail
case=${1:?usage: $0 CASE SOURCE_DIR UBC_INGEST UBC_UPLOAD}
src=$(cd "${2:?}" && pwd)
export UBC_INGEST=${3:?}
upload=${4:?}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tst_ingest.XXXXXX")
ch=$scratch/clickhouse in=$scratch/ingest gw=$scratch/gateway
tracer=""
cleanup() {
    [ -z "$tracer" ] || kill "$tracer" 2>/dev/null
    "$src/scripts/gateway.sh" stop "$gw"
    "$src/scripts/ingest.sh" stop "$in"
    "$src/scripts/clickhouse-server.sh" stop "$ch"
    [ -n "${KEEP:-}" ] || rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
op() { "$src/scripts/clickhouse-server.sh" query "$ch" "$1"; }

"$src/scripts/clickhouse-server.sh" start "$ch" --schema > /dev/null || { echo "FAIL: clickhouse-server"; exit 1; }
"$src/scripts/ingest.sh" start "$in" --clickhouse "$ch" > /dev/null || { echo "FAIL: ubc-ingest"; exit 1; }
url=$("$src/scripts/gateway.sh" start "$gw" --clickhouse "$ch" --ingest "$in" --rate 100000 --burst 100000) \
    || { echo "FAIL: gateway"; exit 1; }
token=$(cat "$gw/token")

# Simulated desktops (scripts/fleet-load.py) through the gateway; their
# summary in $scratch/load.json.
load() { # desktops seconds [more options]
    local n=$1 s=$2
    shift 2
    python3 "$src/scripts/fleet-load.py" --desktops "$n" --seconds "$s" --age 0.5 --drain 30 --timeout 10 \
        --url "${target:-$url}" --token "$token" --run "$case-$RANDOM" "$@" > "$scratch/load.json"
}
field() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$scratch/load.json" "$1"; }
# Once the spool is empty: the desktops' records (vername fleet-load) are all
# there once, and nothing was set aside.
check_stored() {
    for _ in $(seq 1 90); do
        [ -z "$(find "$in/spool" -maxdepth 1 -name '*.rows')" ] && break
        sleep 1
    done
    [ -z "$(find "$in/spool" -maxdepth 1 -name '*.rows')" ] || fail "the spool was not emptied: $(tail -n 3 "$in/ingest.log")"
    [ -z "$(ls "$in/spool/refused")" ] || fail "rows set aside by the service: $(cat "$in/spool/refused/"*)"
    local sent unconfirmed stored distinct
    sent=$(field records) unconfirmed=$(field unconfirmed)
    read -r stored distinct < <(op "SELECT count(), uniqExact(sessionid, seq) FROM ubc.records FINAL WHERE vername = 'fleet-load'" | tr '\t' ' ')
    echo "confirmed $sent, unconfirmed $unconfirmed, stored $stored ($distinct distinct)"
    [ "$sent" -gt 0 ] || fail "nothing was confirmed: $(cat "$scratch/load.json")"
    [ "$stored" = "$distinct" ] || fail "$stored rows after FINAL for $distinct records"
    [ "$distinct" -ge "$sent" ] || fail "$(( sent - distinct )) confirmed records are missing"
    [ "$distinct" -le $(( sent + unconfirmed )) ] || fail "more records stored than were sent"
}

case "$case" in
kill)
    load 40 12 &
    loader=$!
    sleep 4
    kill -9 "$(cat "$in/pid")"
    sleep 1
    "$src/scripts/ingest.sh" start "$in" --clickhouse "$ch" > /dev/null || fail "no restart"
    grep -q "left from before" "$in/ingest.log" || fail "the restart found nothing to replay: the kill came too late or too early"
    wait "$loader" || fail "the load client failed"
    check_stored
    ;;
sync)
    # Straight to the service: the answers to watch are its own.
    target="http://127.0.0.1:$(cat "$in/port")/"
    "$src/scripts/setup-debian.sh" strace >&2
    strace -f -qq -s 12 -e trace=write,writev,sendto,sendmsg,fdatasync -o "$scratch/trace" -p "$(cat "$in/pid")" &
    tracer=$!
    sleep 1
    load 30 4
    kill "$tracer"; wait "$tracer" 2>/dev/null; tracer=""
    # A spool write starts with a row ("{"); an answer with "HTTP/1.1 200".
    read -r answers early < <(awk '
        /(write|sendto|sendmsg|writev)\([0-9]+, .*"\{/ { dirty = 1 }
        /fdatasync/ && / = 0$/ { dirty = 0 }
        /(write|sendto)\([0-9]+, "HTTP\/1.1 200/ { answers++; if (dirty) early++ }
        END { print answers + 0, early + 0 }' "$scratch/trace")
    echo "$answers answers seen, $early before their rows were synced"
    [ "$answers" -ge "$(field requests)" ] || fail "saw $answers answers of $(field requests): the trace missed them"
    [ "$early" = 0 ] || fail "$early answers went out before the rows were synced"
    check_stored
    ;;
refused)
    # The bad line passes the uploader's own check (a record with its
    # identity) but not the store's: a number where the table has a string.
    log=$scratch/records.jsonl
    python3 - "$log" <<'PY'
import json, sys
with open(sys.argv[1], "w") as f:
    for seq in range(1, 1001):
        f.write(json.dumps({"fncode": "210101", "trigertime": "2026-12-05T16:02:11.347+08:00",
                            "sessionid": "uploaded", "seq": seq}) + "\n")
        if seq == 500:
            f.write('{"fncode":210101,"trigertime":"2026-12-05T16:02:11.347+08:00","sessionid":"bad","seq":1}\n')
PY
    load 20 8 &
    loader=$!
    sleep 2
    UBC_UPLOAD_TOKEN=$token "$upload" --url "$url" --batch-bytes 16000 --timeout 60 "$log" > "$scratch/upload.txt" 2>&1 \
        || fail "ubc-upload: $(cat "$scratch/upload.txt")"
    wait "$loader" || fail "the load client failed"
    grep -q "rejected 1," "$scratch/upload.txt" || fail "the uploader did not set one line aside: $(cat "$scratch/upload.txt")"
    [ "$(cat "$log.rejected" 2>/dev/null)" = "$(grep '"bad"' "$log")" ] || fail "set aside: $(cat "$log.rejected" 2>/dev/null)"
    check_stored
    [ "$(op "SELECT count(), uniqExact(seq) FROM ubc.records FINAL WHERE sessionid = 'uploaded'")" = "$(printf '1000\t1000')" ] \
        || fail "the uploader's good records: $(op "SELECT count() FROM ubc.records FINAL WHERE sessionid = 'uploaded'") of 1000"
    [ "$(op "SELECT count() FROM ubc.records WHERE sessionid = 'bad'")" = 0 ] || fail "the refused line was stored"
    ;;
agree)
    ok='"sessionid":"s","fncode":"210101"'
    rows=(
        "{$ok,\"seq\":1,\"time\":\"2026-12-05 08:02:11\",\"attrs.key\":[\"a\"],\"attrs.value\":[\"b\"],\"extra\":{\"a\":[1]}}"
        '{"sessionid":"s","fncode":210101,"seq":1}' '{"sessionid":"s","fncode":null,"seq":1}'
        '{"sessionid":5,"seq":1}' "{$ok,\"seq\":-1}" "{$ok,\"seq\":1.5}" "{$ok,\"seq\":1,\"seq\":2}"
        "{$ok,\"seq\":1,\"attrs.key\":[\"a\",\"b\"],\"attrs.value\":[\"c\"]}" "{$ok,\"seq\":1,\"attrs.key\":[\"a\"]}"
        "{$ok,\"seq\":1,\"attrs.key\":[1],\"attrs.value\":[\"c\"]}" "{$ok,\"seq\":1,\"gid\":\"\\ud800\"}"
        "{$ok,\"seq\":1,\"time\":\"yesterday\"}" "{$ok,\"seq\":1,\"time\":[]}" "[$ok]" 'not json'
    )
    store="http://127.0.0.1:$(cat "$ch/http_port")/?user=ubc_gateway&password=ubc-gateway-secret&input_format_skip_unknown_fields=1"
    store+="&query=INSERT%20INTO%20ubc.records%20FORMAT%20JSONEachRow"
    for r in "${rows[@]}"; do
        theirs=$(curl -s -o /dev/null -w '%{http_code}' --data-binary "$r" "$store")
        ours=$(curl -s -o "$scratch/answer" -w '%{http_code}' --data-binary "$r" "http://127.0.0.1:$(cat "$in/port")/")
        echo "ClickHouse $theirs, ubc-ingest $ours: $r"
        [ "$ours" != 200 ] || [ "$theirs" = 200 ] || fail "taken, but ClickHouse refuses it: $r"
        [ "$ours" = 200 ] || grep -q '^Code: 27, ' "$scratch/answer" || fail "not a parse error: $(cat "$scratch/answer")"
    done
    ;;
outage)
    "$src/scripts/clickhouse-server.sh" stop "$ch"
    load 20 10 &
    loader=$!
    sleep 4
    grep -q "insert failed" "$in/ingest.log" || fail "no insert was tried while ClickHouse was down"
    # What the service confirmed is on its disk alone now.
    kill -9 "$(cat "$in/pid")"
    "$src/scripts/ingest.sh" start "$in" --clickhouse "$ch" > /dev/null || fail "no restart"
    sleep 4
    wait "$loader" || fail "the load client failed"
    # Only while the service restarted (nginx's 502) may a request fail.
    other=$(python3 -c 'import json,sys; print(sum(n for k, n in json.load(open(sys.argv[1]))["errors"].items() if not k.startswith("502")))' "$scratch/load.json")
    [ "$other" = 0 ] || fail "requests failed while ClickHouse was down: $(field errors)"
    "$src/scripts/clickhouse-server.sh" start "$ch" > /dev/null || fail "ClickHouse did not come back"
    check_stored
    ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac

[ "$failures" = 0 ] && echo "PASS: $case" || { echo "$failures failure(s)"; exit 1; }
