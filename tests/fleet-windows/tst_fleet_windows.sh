#!/usr/bin/env bash
# The Windows uploader under Wine against the Linux clickhouse-server and the
# gateway, both on loopback, over QtNetwork's plain HTTP. The demo host
# uploads its session, records and coded events, from inside the host; then
# ubc-upload.exe sends a generated log in many batches, a second process takes
# up where the first one's cursor stopped, and with a refused token nothing is
# sent and the log is kept. The store must hold each record once, as the
# Windows side wrote it, with its UTC time.
#   tst_fleet_windows.sh SOURCE_DIR WINE UBC_DEMO_EXE UBC_UPLOAD_EXE   (KEEP=1: keep the scratch folder)
set -uo pipefail
[ $# -eq 4 ] || { echo "usage: $0 SOURCE_DIR WINE UBC_DEMO_EXE UBC_UPLOAD_EXE" >&2; exit 2; }
src=$1 wine=$2 demo=$3 upload=$4
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tst_fleet_windows.XXXXXX")
ch=$scratch/clickhouse gw=$scratch/gateway
# The servers go whatever happens; each Windows program is bounded by timeout,
# so the whole stays within ctest's limit and this trap runs.
cleanup() {
    "$src/scripts/gateway.sh" stop "$gw"
    "$src/scripts/clickhouse-server.sh" stop "$ch"
    [ -n "${KEEP:-}" ] && echo "kept $scratch" || rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
op() { "$src/scripts/clickhouse-server.sh" query "$ch" "$1"; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
# windows OUTPUT PROGRAM ARGS...: its output in a file (Wine passes none through
# ctest's pipe); local time is not UTC there (Wine takes the zone from TZ)
windows() { local out=$1; shift; TZ=Asia/Shanghai timeout 90 "$wine" "$@" > "$out" 2>&1; }

"$src/scripts/clickhouse-server.sh" start "$ch" --schema > /dev/null || { echo "FAIL: clickhouse-server"; exit 1; }
url=$("$src/scripts/gateway.sh" start "$gw" --clickhouse "$ch" --rate 500 --burst 500) || { echo "FAIL: gateway"; exit 1; }
export UBC_UPLOAD_TOKEN
UBC_UPLOAD_TOKEN=$(cat "$gw/token")

# stored TABLE SESSION COLUMNS: the session's rows, ordered by seq, as TSV (a record sent twice shows twice until parts merge)
stored() { op "SELECT $3 FROM ubc.$1 WHERE sessionid = '$2' ORDER BY seq FORMAT TSV"; }
# sessions FILE: the sessions in a log, in order of appearance
sessions() { jq -r .sessionid "$1" | awk '!seen[$0]++'; }

# 1. The demo host, its uploader inside it.
out=$scratch/demo
windows "$scratch/demo.log" "$demo" --scenario --out "$(winpath "$out")" --upload-url "$url" ||
    fail "ubc-demo.exe: $(tail -n 5 "$scratch/demo.log")"
grep -q "records confirmed, 0 waiting, 0 set aside" "$scratch/demo.log" || fail "demo records: $(grep upload: "$scratch/demo.log")"
grep -q "coded events confirmed, 0 waiting" "$scratch/demo.log" || fail "demo coded events: $(grep upload: "$scratch/demo.log")"
session=$(sessions "$out/records.jsonl")
[ "$(wc -l <<< "$session")" = 1 ] && [ "$(wc -l < "$out/records.jsonl")" -gt 10 ] || fail "demo log: $(wc -l < "$out/records.jsonl") records, sessions $session"
# Each record once with its names, group and place; paths hashed, as they leave no desktop.
expected=$(jq -r '[.seq, .fncode, .fnname, .fngroup, (.attrs.location // ""), (.prjfullpath != "")] | @tsv' "$out/records.jsonl")
actual=$(stored records "$session" "seq, fncode, fnname, fngroup, attrs.value[indexOf(attrs.key, 'location')],
                                     if(prjfullpath = '', 'false', if(startsWith(prjfullpath, 'hmac:'), 'true', prjfullpath))")
[ "$actual" = "$expected" ] || fail "demo records stored:$(diff <(echo "$expected") <(echo "$actual") | head -n 20)"
grep -q "true$" <<< "$expected" || fail "demo records: none with a project path"
expected=$(jq -r '[.seq, .code, (.attrs | to_entries | map(.key + "=" + .value) | join(","))] | @tsv' "$out/coded-events.jsonl")
actual=$(stored coded_events "$(sessions "$out/coded-events.jsonl")" \
                "seq, code, arrayStringConcat(arrayMap((k, v) -> concat(k, '=', v), attrs.key, attrs.value), ',')")
[ -n "$expected" ] && [ "$actual" = "$expected" ] || fail "demo coded events stored:$(diff <(echo "$expected") <(echo "$actual") | head -n 20)"

# 2. ubc-upload.exe: a generated log in batches of 64 KiB, then more of it
#    from a second process, which must send only what the cursor has not.
log=$scratch/generated.jsonl
for n in 2000 500; do
    windows "$scratch/upload-$n.log" "$upload" --url "$url" --generate $n --batch-bytes 65536 --timeout 60 "$(winpath "$log")" ||
        fail "ubc-upload.exe --generate $n: $(tail -n 3 "$scratch/upload-$n.log")"
    grep -q "^confirmed $n records" "$scratch/upload-$n.log" || fail "ubc-upload.exe --generate $n: $(tail -n 1 "$scratch/upload-$n.log")"
done
mapfile -t generated < <(sessions "$log")
[ ${#generated[@]} = 2 ] || fail "generated sessions: ${generated[*]}"
for i in 0 1; do
    n=$((i == 0 ? 2000 : 500))
    counts=$(op "SELECT count(), uniqExact(seq), min(seq), max(seq) FROM ubc.records WHERE sessionid = '${generated[$i]}'" | xargs)
    [ "$counts" = "$n $n 1 $n" ] || fail "generated session $((i + 1)): count, seqs, first, last $counts; expected $n records once"
done

# 3. A refused token: exit 1, nothing stored, the log and its cursor as they were.
rows=$(op "SELECT count() FROM ubc.records")
UBC_UPLOAD_TOKEN=0123456789abcdef windows "$scratch/refused.log" "$upload" --url "$url" --generate 50 --timeout 3 "$(winpath "$log")"
code=$?
[ $code = 1 ] || fail "refused token: exit code $code"
grep -q "waiting 50, last error: HTTP 403" "$scratch/refused.log" || fail "refused token: $(tail -n 1 "$scratch/refused.log")"
[ "$(op "SELECT count() FROM ubc.records")" = "$rows" ] || fail "refused token: rows stored"
[ "$(wc -l < "$log")" = 2550 ] || fail "refused token: the log has $(wc -l < "$log") lines, expected 2550"

# 4. Times: the uploader's UTC time of each row is its local time's.
wrong=$(op "SELECT (SELECT countIf(time != parseDateTimeBestEffort(trigertime)) FROM ubc.records),
                   (SELECT countIf(time != parseDateTimeBestEffort(eventtime)) FROM ubc.coded_events)" | xargs)
[ "$wrong" = "0 0" ] || fail "rows whose time is not their local time in UTC (records, coded events): $wrong"

[ $failures = 0 ] && echo "PASS: $(op "SELECT count() FROM ubc.records") records and $(op "SELECT count() FROM ubc.coded_events") coded events from Wine, each once"
[ $failures = 0 ]
