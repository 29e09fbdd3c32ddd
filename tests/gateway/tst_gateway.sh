#!/usr/bin/env bash
# The gateway against a real nginx and a real clickhouse-server on loopback.
# Each row of the table is one desktop request, its body a record whose
# sessionid is the row's name: at the end the store must hold exactly the
# rows that were answered 200, its tables and columns unchanged, and no
# answer may carry another database's contents. Every answer must say it came
# from the gateway.
#   tst_gateway.sh SOURCE_DIR [UBC_INGEST]   (KEEP=1: leave the servers and the scratch folder for a look)
# With UBC_INGEST (the program) the gateway passes the records to it, as deployed for a large fleet.
set -uo pipefail
src=$(cd "${1:?usage: $0 SOURCE_DIR}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tst_gateway.XXXXXX")
ch=$scratch/clickhouse gw=$scratch/gateway in=$scratch/ingest
cleanup() {
    "$src/scripts/gateway.sh" stop "$gw"
    "$src/scripts/ingest.sh" stop "$in"
    "$src/scripts/clickhouse-server.sh" stop "$ch"
    rm -rf "$scratch"
}
[ -n "${KEEP:-}" ] || trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
op() { "$src/scripts/clickhouse-server.sh" query "$ch" "$1"; }

"$src/scripts/clickhouse-server.sh" start "$ch" --schema > /dev/null || { echo "FAIL: clickhouse-server"; exit 1; }
via=()
if [ -n "${2:-}" ]; then
    UBC_INGEST=$2 "$src/scripts/ingest.sh" start "$in" --clickhouse "$ch" > /dev/null || { echo "FAIL: ubc-ingest"; exit 1; }
    via=(--ingest "$in")
fi
url=$("$src/scripts/gateway.sh" start "$gw" --clickhouse "$ch" "${via[@]}" --rate 5 --burst 30) || { echo "FAIL: gateway"; exit 1; }
token=$(cat "$gw/token")
secret=TOP-SECRET-2f9c
op "CREATE DATABASE secret; CREATE TABLE secret.t (v String) ENGINE = Memory; INSERT INTO secret.t VALUES ('$secret')"
schema() {
    op "SELECT database, name, engine FROM system.tables WHERE database != 'system' ORDER BY database, name;
        SELECT table, name, type FROM system.columns WHERE database = 'ubc' ORDER BY table, name;
        SELECT * FROM secret.t"
}
before=$(schema)
row() { printf '{"sessionid":"%s","seq":%d,"fncode":"210101","time":"2026-12-05 08:02:11"}\n' "$1" "${2:-1}"; }
big=$scratch/big.jsonl
yes "$(row big)" | head -n 250000 > "$big" # over 16 MiB
# Over the memory buffer: the body goes through a temporary file.
yes "$(row large)" | head -n 40000 > "$scratch/large"
chport=$(cat "$ch/http_port")

# name | expected status | after the URL | curl's arguments (with $auth for a good token). Without a
# --data-binary the body is the row named by the case. "refused": any status but 200, ClickHouse's
# own answer to a body that is not rows.
auth='-H "Authorization: Bearer $token"'
cases=(
  "plain|200||$auth"
  "gzip|200||$auth -H 'Content-Encoding: gzip' --data-binary @\$scratch/gzip"
  "large|200||$auth --data-binary @\$scratch/large"
  "select|refused||$auth --data-binary 'SELECT * FROM secret.t'"
  "url|refused||$auth --data-binary \"SELECT * FROM url('http://127.0.0.1:$chport/?query=SELECT+v+FROM+secret.t', TSV, 'v String')\""
  "drop|refused||$auth --data-binary 'DROP TABLE ubc.records'"
  "alter|refused||$auth --data-binary 'ALTER TABLE ubc.records DROP COLUMN ip'"
  # Taken as a plain insert: neither the query nor the setting (which would fail it) reaches ClickHouse.
  "query|200|?query=DROP+TABLE+ubc.records|$auth"
  "setting|200|?max_memory_usage=1&readonly=1|$auth"
  "headers|200||$auth -H 'X-ClickHouse-User: default' -H 'X-ClickHouse-Key:' -H 'X-ClickHouse-Quota: x'"
  "get|405||$auth -X GET"
  "put|405||$auth -X PUT"
  "path|404|/../../?query=SELECT+1|$auth --path-as-is"
  "other|404|s|$auth"
  "big|413||$auth --data-binary @\$big"
  "notoken|403||"
  "wrongtoken|403||-H 'Authorization: Bearer 0123456789abcdef'"
  "basic|403||-u ubc_gateway:ubc-gateway-secret"
  "encoding|415||$auth -H 'Content-Encoding: br'"
)
declare -A stored=()
request() { # name, after the URL, curl's arguments; prints the status
    local args
    row "$1" | gzip > "$scratch/gzip"
    eval "args=($3)"
    [[ "$3" == *--data-binary* ]] || args+=(--data-binary "$(row "$1")")
    curl -s -o "$scratch/answer" -D "$scratch/headers" -w '%{http_code}' "${args[@]}" "$url$2"
}
check() { # name, expected, status
    grep -qi '^X-KelUbc-Gateway: 1' "$scratch/headers" || fail "$1: no gateway header"
    ! grep -q "$secret" "$scratch/answer" || fail "$1: the answer holds another database's rows"
    if [ "$2" = refused ]; then [ "$3" != 200 ] || fail "$1: accepted"; else [ "$3" = "$2" ] || fail "$1: HTTP $3, expected $2: $(head -c 300 "$scratch/answer")"; fi
    [ "$3" != 200 ] || stored[$1]=1
}
for c in "${cases[@]}"; do
    IFS='|' read -r name expected after args <<< "$c"
    check "$name" "$expected" "$(request "$name" "$after" "$args")"
done

# The coded events' route: the same rules, and only an insert into ubc.coded_events.
events() { # expected status, after the URL, curl's arguments
    local got
    got=$(eval "curl -s -o \"\$scratch/answer\" -D \"\$scratch/headers\" -w '%{http_code}' $3 \"\${url%records}coded-events$2\"")
    grep -qi '^X-KelUbc-Gateway: 1' "$scratch/headers" || fail "coded events $2 $3: no gateway header"
    if [ "$1" = refused ]; then [ "$got" != 200 ] || fail "coded events $3: accepted"
    else [ "$got" = "$1" ] || fail "coded events $2 $3: HTTP $got, expected $1: $(head -c 300 "$scratch/answer")"; fi
}
event='{"sessionid":"ev","seq":1,"code":"210101","time":"2026-12-05 08:02:11"}'
events 200 "" "$auth --data-binary '$event'"
events 200 "?query=DROP+TABLE+ubc.coded_events" "$auth --data-binary '${event/\"seq\":1/\"seq\":2}'"
events refused "" "$auth --data-binary 'DROP TABLE ubc.coded_events'"
events 403 "" "--data-binary '$event'"
events 405 "" "$auth -X GET"
[ "$(op "SELECT sessionid, count() FROM ubc.coded_events FINAL GROUP BY sessionid" | tr '\t' ' ')" = "ev 2" ] \
    || fail "coded events stored: $(op "SELECT sessionid, seq FROM ubc.coded_events" | xargs)"

# Rotation: the old token still works beside the new one, until its line goes.
old=$token
"$src/scripts/gateway.sh" rotate "$gw" > /dev/null
token=$(cat "$gw/token")
[ "$token" != "$old" ] || fail "rotate: same token"
check rotated 200 "$(request rotated "" "$auth")"
token=$old
check oldtoken 200 "$(request oldtoken "" "$auth")"
sed -i "/$old/d" "$gw/conf/tokens.conf" && "$src/scripts/gateway.sh" reload "$gw"
check retired 403 "$(request retired "" "$auth")"
token=$(cat "$gw/token")

# TLS with the generated certificate.
plain=$url url=$(cat "$gw/tls_url")
check tls 200 "$(request tls "" "$auth --cacert \$gw/tls/cert.pem")"
url=$plain

# Bursts from one address, with a good token and with a wrong one: some
# refused with 429, only the good ones that passed stored. Each status is
# followed by the gateway header's value (1).
burst() { # token, count; prints each status
    for i in $(seq 1 "$2"); do
        printf 'url = "%s"\nheader = "Authorization: Bearer %s"\ndata-binary = "%s"\n' \
            "$url" "$1" "$(row burst "$i" | sed 's/"/\\"/g')"
        printf 'output = "/dev/null"\nwrite-out = "%%{http_code}%%header{x-kelubc-gateway}\\n"\n'
        [ "$i" = "$2" ] || echo next
    done > "$scratch/burst.curl"
    curl -s --parallel --parallel-max 20 -K "$scratch/burst.curl" 2>/dev/null | sort | uniq -c | awk '{ print $2 "x" $1 }' | xargs
}
counts=$(burst "$token" 60)
ok=$(grep -o '2001x[0-9]*' <<< "$counts" | cut -dx -f2)
[[ "$counts" =~ ^(2001x[0-9]+ )?4291x[0-9]+$ ]] || fail "burst: $counts"
counts=$(burst 0123456789abcdef 40)
[[ "$counts" =~ ^(4031x[0-9]+ )?4291x[0-9]+$ ]] || fail "burst of a wrong token: $counts"

# ubc-ingest's 200 means on its disk: the store has the rows once its spool is empty.
for _ in $(seq 1 30); do
    [ -z "$(find "$in/spool" -maxdepth 1 -name '*.rows' 2>/dev/null)" ] && break
    sleep 1
done
expected=$(for name in "${!stored[@]}"; do echo "$name 1"; done; [ -z "$ok" ] || echo "burst $ok")
actual=$(op "SELECT sessionid, count() FROM ubc.records FINAL GROUP BY sessionid" | tr '\t' ' ')
[ "$(sort <<< "$actual")" = "$(sort <<< "$expected")" ] || fail "stored rows: $(echo $actual), expected $(echo $expected)"
[ "$(schema)" = "$before" ] || fail "tables or columns changed"
[ $failures = 0 ] && echo "PASS" || exit 1
