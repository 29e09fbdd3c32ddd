#!/usr/bin/env bash
# The demo host's session shipped to a ClickHouse server on loopback: starts
# the server in a scratch folder with the repository's configuration, creates
# the schema, plays `ubc-demo --scenario --upload-url URL` (consent given on
# the command line), then compares the local log with the server and prints
# the top commands. Stops the server on any exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup-debian.sh clickhouse-server clickhouse-client libsimdjson-dev zlib1g-dev
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target ubc-demo sample_dictionary > /dev/null

scratch=$(mktemp -d /tmp/kelubc-fleet-demo.XXXXXX)
trap 'scripts/clickhouse-server.sh stop "$scratch/server"; rm -rf "$scratch"' EXIT
url=$(scripts/clickhouse-server.sh start "$scratch/server" --schema)
query() { clickhouse-client --host 127.0.0.1 --port "$(cat "$scratch/server/tcp_port")" --query "$1"; }

# The desktop user of server/clickhouse/users.xml.
UBC_UPLOAD_PASSWORD=ubc-desktop-secret QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    "$build/bin/ubc-demo" --scenario --out "$scratch/demo" --upload-url "$url" --upload-user ubc_desktop "$@" \
    > "$scratch/demo.out" 2> "$scratch/demo.err" || { cat "$scratch/demo.out" "$scratch/demo.err"; exit 1; }
grep '^upload:' "$scratch/demo.out"

echo "local records: $(grep -c '^{' "$scratch/demo/records.jsonl")"
echo "server records: $(query 'SELECT count() FROM ubc.records FINAL')"
echo "top commands (server):"
query "SELECT fncode, fnname, count() AS n FROM ubc.records FINAL GROUP BY fncode, fnname ORDER BY n DESC, fncode LIMIT 5" \
    | sed 's/^/  /'
