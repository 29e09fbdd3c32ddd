#!/usr/bin/env bash
# The fleet's batching service (ubc-ingest) on loopback, between the gateway
# and a ClickHouse server started by scripts/clickhouse-server.sh.
#
#   scripts/ingest.sh start DIR --clickhouse CHDIR [ubc-ingest's options...]
#       starts ubc-ingest on 127.0.0.1 with its spool in DIR/spool, inserting
#       into CHDIR's server as ubc_gateway (password from UBC_GATEWAY_PASSWORD,
#       default the test one of users.xml); writes DIR/pid and DIR/port, logs
#       to DIR/ingest.log. A DIR started before keeps its port and its spool,
#       whose rows are sent first. The program is $UBC_INGEST, else the
#       build's (build/bin/ubc-ingest).
#   scripts/ingest.sh stop DIR
#       stops it by its process id (what it confirmed stays in the spool)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: $0 start DIR --clickhouse CHDIR [options] | stop DIR" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2
. "$root/scripts/lib/loopback.sh"

start() {
    [ "${1:-}" = --clickhouse ] && [ -n "${2:-}" ] || usage
    local chdir=$2 program=${UBC_INGEST:-$root/build/bin/ubc-ingest} port pid
    shift 2
    [ -f "$chdir/http_port" ] || { echo "no ClickHouse server in $chdir" >&2; exit 1; }
    [ -x "$program" ] || { echo "no ubc-ingest at $program (build it, or set UBC_INGEST)" >&2; exit 1; }
    stop_pid_file "$dir/pid"
    port=$(cat "$dir/port" 2>/dev/null || echo 0)
    rm -f "$dir/port.new"
    UBC_INGEST_PASSWORD=${UBC_GATEWAY_PASSWORD:-ubc-gateway-secret} \
        "$program" --spool "$dir/spool" --clickhouse "http://127.0.0.1:$(cat "$chdir/http_port")/" \
        --listen "127.0.0.1:$port" --port-file "$dir/port.new" "$@" >> "$dir/ingest.log" 2>&1 &
    pid=$!
    echo "$pid" > "$dir/pid"
    for _ in $(seq 1 100); do
        if [ -s "$dir/port.new" ]; then
            mv "$dir/port.new" "$dir/port"
            echo "http://127.0.0.1:$(cat "$dir/port")/"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "ubc-ingest did not start; see $dir/ingest.log" >&2
    tail -n 5 "$dir/ingest.log" >&2
    stop_pid_file "$dir/pid"
    return 1
}

case "$command" in
    start) start "$@" ;;
    stop) [ $# = 0 ] || usage; stop_pid_file "$dir/pid" ;;
    *) usage ;;
esac
