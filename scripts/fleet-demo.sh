#!/usr/bin/env bash
# The demo host's session shipped to a ClickHouse server on loopback the way
# a fleet's desktops ship theirs, through the gateway: starts the server in a
# scratch folder with the repository's configuration, creates the schema,
# starts the gateway in front of it, plays `ubc-demo --scenario --upload-url
# URL` with the gateway's token (consent given on the command line), then
# compares the local log with the server and prints the top commands. Stops
# both on any exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup-debian.sh clickhouse-server clickhouse-client nginx-light openssl libsimdjson-dev zlib1g-dev
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target ubc-demo sample_dictionary > /dev/null

scratch=$(mktemp -d /tmp/kelubc-fleet-demo.XXXXXX)
trap 'scripts/gateway.sh stop "$scratch/gateway"; scripts/clickhouse-server.sh stop "$scratch/server"; rm -rf "$scratch"' EXIT
scripts/clickhouse-server.sh start "$scratch/server" --schema > /dev/null
url=$(scripts/gateway.sh start "$scratch/gateway" --clickhouse "$scratch/server")
query() { scripts/clickhouse-server.sh query "$scratch/server" "$1"; }

UBC_UPLOAD_TOKEN=$(cat "$scratch/gateway/token") QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    "$build/bin/ubc-demo" --scenario --out "$scratch/demo" --upload-url "$url" "$@" \
    > "$scratch/demo.out" 2> "$scratch/demo.err" || { cat "$scratch/demo.out" "$scratch/demo.err"; exit 1; }
grep '^upload:' "$scratch/demo.out"

echo "local records: $(grep -c '^{' "$scratch/demo/records.jsonl")"
echo "server records: $(query 'SELECT count() FROM ubc.records FINAL')"
echo "top commands (server):"
query "SELECT fncode, fnname, count() AS n FROM ubc.records FINAL GROUP BY fncode, fnname ORDER BY n DESC, fncode LIMIT 5" \
    | sed 's/^/  /'
