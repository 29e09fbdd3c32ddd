#!/usr/bin/env bash
# The example host built by install_consumer, played with consent to upload
# through the fleet's gateway to a ClickHouse server on loopback: every record
# of its log reaches ubc.records, and the host still quits within seconds.
#   example-upload.sh SOURCE_DIR EXAMPLE_BINARY WORK_DIR
set -euo pipefail
source_dir=$1 example=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
trap '"$source_dir/scripts/gateway.sh" stop "$work/gateway"; "$source_dir/scripts/clickhouse-server.sh" stop "$work/server"' EXIT
"$source_dir/scripts/clickhouse-server.sh" start "$work/server" --schema > /dev/null
url=$("$source_dir/scripts/gateway.sh" start "$work/gateway" --clickhouse "$work/server" | tail -1)
query() { "$source_dir/scripts/clickhouse-server.sh" query "$work/server" "$1"; }

start=$(date +%s)
env QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=default.info=false \
    XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
    UBC_UPLOAD_TOKEN="$(cat "$work/gateway/token")" \
    "$example" --scenario --consent=upload --lang=en "--upload-url=$url"
seconds=$(( $(date +%s) - start ))
log="$work/data/Example/minimal-host/ubc/records.jsonl"
local_count=$(wc -l < "$log")
server_count=$(query "SELECT count() FROM ubc.records FINAL WHERE vername = 'minimal-host'")
places=$(query "SELECT count() FROM ubc.records FINAL WHERE attrs.value[indexOf(attrs.key, 'location')] = 'Menu bar'")
echo "local records: $local_count, server records: $server_count, from the menu bar: $places, run: ${seconds}s"
[ "$local_count" -ge 14 ] && [ "$server_count" = "$local_count" ] && [ "$places" = 2 ] && [ "$seconds" -le 15 ]
