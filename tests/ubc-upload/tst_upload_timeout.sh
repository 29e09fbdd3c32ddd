#!/usr/bin/env bash
# ubc-upload --timeout 1 must end with exit code 1 and its figures within a
# few seconds (the last attempt's 2 s and the thread's 1 s to stop) when
#   - the log is a FIFO no one writes: the uploader's thread is held in open();
#   - the server takes the connection and never answers.
#   tst_upload_timeout.sh UBC_UPLOAD
set -uo pipefail
[ $# -eq 1 ] || { echo "usage: $0 UBC_UPLOAD" >&2; exit 2; }
upload=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tst_upload_timeout.XXXXXX")
listener=
cleanup() { [ -n "$listener" ] && kill "$listener" 2>/dev/null; rm -rf "$scratch"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# bounded CASE EXPECTED ARGS...: exit 1 within 6 s, the figures printed
bounded() {
    local case=$1 expected=$2 start code elapsed
    shift 2
    start=$(date +%s%N)
    timeout 60 "$upload" --timeout 1 "$@" > "$scratch/$case.out" 2>&1
    code=$?
    elapsed=$((($(date +%s%N) - start) / 1000000))
    [ $code = 1 ] || fail "$case: exit code $code after $elapsed ms: $(tail -n 2 "$scratch/$case.out")"
    [ $elapsed -lt 6000 ] || fail "$case: $elapsed ms"
    grep -q "$expected" "$scratch/$case.out" || fail "$case: $(tail -n 2 "$scratch/$case.out")"
}

mkfifo "$scratch/fifo"
bounded fifo "^confirmed 0 records .*waiting 0" --url http://127.0.0.1:9/v1/records "$scratch/fifo"

python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print(s.getsockname()[1], flush=True)
time.sleep(120)' > "$scratch/port" &
listener=$!
for _ in $(seq 50); do [ -s "$scratch/port" ] && break; sleep 0.1; done
bounded silent "^confirmed 0 records .*waiting 1" --url "http://127.0.0.1:$(cat "$scratch/port")/v1/records" \
    --generate 1 "$scratch/log.jsonl"

[ $failures = 0 ] && echo "PASS: ubc-upload ended within its --timeout's bound"
[ $failures = 0 ]
