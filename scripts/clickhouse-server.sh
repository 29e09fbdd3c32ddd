#!/usr/bin/env bash
# Starts and stops a ClickHouse server for the fleet's records, on loopback
# only, with the repository's configuration and its data in a scratch folder.
#
#   scripts/clickhouse-server.sh start DIR [--schema]
#       installs clickhouse-server if missing, starts it on 127.0.0.1 with free
#       ports, waits until it answers, loads server/clickhouse/schema.sql with
#       --schema, prints the HTTP URL and writes DIR/pid, DIR/http_port and
#       DIR/tcp_port. Ports already in DIR/http_port and DIR/tcp_port are
#       taken again when free (a restarted server keeps its address), and XML
#       files in DIR/config.d/ are merged into the configuration (a cluster's
#       remote_servers, say).
#   scripts/clickhouse-server.sh query DIR [SQL]
#       runs SQL (or the statements on stdin) as the operator, the user
#       "default": full rights, from this machine only
#   scripts/clickhouse-server.sh stop DIR
#       stops the server started in DIR by its process id
#
# The operator's password is made at the first start and kept in
# DIR/operator_password (mode 0600), with a client configuration that holds it
# in DIR/client.xml; a server folder made before keeps its password.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: $0 start DIR [--schema] | query DIR [SQL] | stop DIR" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)

. "$root/scripts/lib/loopback.sh"

# The password stays out of the command line (and so out of ps).
query() {
    clickhouse-client --config-file "$dir/client.xml" --host 127.0.0.1 --port "$(cat "$dir/tcp_port")" "$@"
}

operator() {
    local password
    if [ ! -s "$dir/operator_password" ]; then
        (umask 077; random_secret > "$dir/operator_password")
    fi
    password=$(cat "$dir/operator_password")
    mkdir -p "$dir/conf/users.d"
    (umask 077
     printf '<yandex><users><default><password remove="1"/><password_sha256_hex>%s</password_sha256_hex></default></users></yandex>\n' \
         "$(printf %s "$password" | sha256sum | cut -d' ' -f1)" > "$dir/conf/users.d/operator.xml"
     printf '<config><user>default</user><password>%s</password></config>\n' "$password" > "$dir/client.xml")
}

stop() { stop_pid_file "$dir/pid"; }

start() {
    "$root/scripts/setup-debian.sh" clickhouse-server clickhouse-client >&2
    stop
    mkdir -p "$dir/data" "$dir/tmp" "$dir/user_files" "$dir/format_schemas"
    # ClickHouse merges config.d/ found beside its configuration file.
    rm -rf "$dir/conf"
    mkdir -p "$dir/conf/config.d"
    cp "$root/server/clickhouse/config.xml" "$root/server/clickhouse/users.xml" "$dir/conf/"
    operator
    if [ -d "$dir/config.d" ]; then cp "$dir"/config.d/*.xml "$dir/conf/config.d/" 2>/dev/null || true; fi
    for attempt in 1 2 3; do
        local http tcp pid
        http=$(cat "$dir/http_port" 2>/dev/null || true)
        tcp=$(cat "$dir/tcp_port" 2>/dev/null || true)
        if [ "$attempt" != 1 ] || [ -z "$http" ] || [ -z "$tcp" ] || ! port_free "$http" || ! port_free "$tcp"; then
            http=$(free_port)
            tcp=$(free_port)
        fi
        [ "$http" != "$tcp" ] || continue
        echo "$http" > "$dir/http_port"
        echo "$tcp" > "$dir/tcp_port"
        # A replica's interserver port (fleet-replicated.sh) is chosen the
        # same way: another server on the machine may have taken it.
        local inter=()
        if [ -s "$dir/interserver_port" ]; then
            local port
            port=$(cat "$dir/interserver_port")
            if [ "$attempt" != 1 ] || ! port_free "$port"; then
                port=$(free_port)
                echo "$port" > "$dir/interserver_port"
            fi
            inter=(--interserver_http_port="$port")
        fi
        (cd "$dir" && exec /usr/sbin/clickhouse-server \
            --config-file="$dir/conf/config.xml" -- \
            --listen_host=127.0.0.1 --http_port="$http" --tcp_port="$tcp" "${inter[@]}" \
            --path="$dir/data/" --tmp_path="$dir/tmp/" \
            --user_files_path="$dir/user_files/" --format_schema_path="$dir/format_schemas/" \
            --logger.log="$dir/server.log" --logger.errorlog="$dir/server.err.log" \
            >"$dir/stdout.log" 2>&1) &
        pid=$!
        echo "$pid" > "$dir/pid"
        for _ in $(seq 1 300); do
            if query --query "SELECT 1" >/dev/null 2>&1; then
                [ "${1:-}" = --schema ] && query --multiquery < "$root/server/clickhouse/schema.sql"
                echo "http://127.0.0.1:$http"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        echo "clickhouse-server did not start (attempt $attempt); see $dir/server.err.log:" >&2
        tail -n 3 "$dir/server.err.log" >&2 2>/dev/null || true
        stop
    done
    return 1
}

case "$command" in
    start) start "${3:-}" ;;
    query)
        [ -s "$dir/client.xml" ] && [ -f "$dir/tcp_port" ] || { echo "no server in $dir" >&2; exit 1; }
        if [ $# -ge 3 ]; then query --multiquery --query "$3"; else query --multiquery; fi ;;
    stop) stop ;;
    *) usage ;;
esac
