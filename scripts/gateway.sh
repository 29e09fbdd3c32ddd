#!/usr/bin/env bash
# The fleet's gateway (nginx with server/gateway/) on loopback, in front of a
# ClickHouse server started by scripts/clickhouse-server.sh.
#
#   scripts/gateway.sh start DIR --clickhouse CHDIR [--rate N] [--burst N]
#       starts nginx on 127.0.0.1 with free ports: plain HTTP and TLS (a
#       self-signed certificate made with openssl). Prints the desktops' URL
#       and writes DIR/pid, DIR/port, DIR/url, DIR/token (a token it accepts),
#       DIR/tls_port, DIR/tls_url and DIR/tls/cert.pem (to trust). Requests
#       per second and client address: N (default 20), bursts of N (default
#       40) above it. The gateway's ClickHouse password is taken from
#       UBC_GATEWAY_PASSWORD (default: the test one of users.xml). Tokens,
#       certificate and ports are kept when DIR is started again.
#   scripts/gateway.sh rotate DIR
#       adds a new token, which becomes DIR/token; the older ones are still
#       accepted until their lines are deleted from DIR/conf/tokens.conf
#   scripts/gateway.sh reload DIR
#       reads DIR/conf/tokens.conf again (nginx's HUP)
#   scripts/gateway.sh stop DIR
#       stops the gateway started in DIR by its process id
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: $0 start DIR --clickhouse CHDIR [--rate N] [--burst N] | rotate DIR | reload DIR | stop DIR" >&2
    exit 2
}
[ $# -ge 2 ] || usage
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2

. "$root/scripts/lib/loopback.sh"
running() { [ -f "$dir/pid" ] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; }

stop() { stop_pid_file "$dir/pid"; }

# A new token named by the time it was made; the newest is DIR/token.
add_token() {
    local token name
    token=$(random_secret)
    name="fleet-$(date -u +%Y%m%dT%H%M%S)-${token:0:4}"
    (umask 077
     printf '"Bearer %s" %s;\n' "$token" "$name" >> "$dir/conf/tokens.conf"
     printf '%s\n' "$token" > "$dir/token")
}

reload() {
    running || { echo "no gateway running in $dir" >&2; exit 1; }
    nginx_cmd -t -q
    local master old
    master=$(cat "$dir/pid")
    old=$(pgrep -P "$master" || true)
    kill -HUP "$master"
    # New workers answer with the new files; the old ones finish and go.
    for _ in $(seq 1 100); do
        local left=""
        for p in $old; do kill -0 "$p" 2>/dev/null && left=1; done
        [ -n "$left" ] || return 0
        sleep 0.1
    done
}

nginx_cmd() { /usr/sbin/nginx -p "$dir/" -c conf/nginx.conf "$@"; }

start() {
    local chdir="" rate=20 burst=40
    while [ $# -gt 0 ]; do
        case "$1" in
            --clickhouse) chdir=${2:?}; shift 2 ;;
            --rate) rate=${2:?}; shift 2 ;;
            --burst) burst=${2:?}; shift 2 ;;
            *) usage ;;
        esac
    done
    [ -n "$chdir" ] || usage
    [ -f "$chdir/http_port" ] || { echo "no ClickHouse server in $chdir" >&2; exit 1; }
    "$root/scripts/setup-debian.sh" nginx-light openssl >&2
    stop
    mkdir -p "$dir/conf" "$dir/logs" "$dir/tmp" "$dir/tls"
    cp "$root"/server/gateway/*.conf "$dir/conf/"
    [ -s "$dir/conf/tokens.conf" ] || add_token
    if [ ! -s "$dir/tls/cert.pem" ]; then
        (umask 077; openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=127.0.0.1" \
            -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
            -keyout "$dir/tls/key.pem" -out "$dir/tls/cert.pem" 2>/dev/null)
    fi
    (umask 077
     printf 'proxy_set_header Authorization "Basic %s";\n' \
         "$(printf 'ubc_gateway:%s' "${UBC_GATEWAY_PASSWORD:-ubc-gateway-secret}" | base64 -w0)" \
         > "$dir/conf/credentials.conf")

    # Started by root, nginx's workers would run as nobody, who may not reach
    # the request bodies' temporary files under DIR: they stay root's here.
    local workers=""
    [ "$(id -u)" != 0 ] || workers=" user root;"
    for attempt in 1 2 3; do
        local port tls pid
        port=$(cat "$dir/port" 2>/dev/null || true)
        tls=$(cat "$dir/tls_port" 2>/dev/null || true)
        if [ "$attempt" != 1 ] || [ -z "$port" ] || [ -z "$tls" ] || ! port_free "$port" || ! port_free "$tls"; then
            port=$(free_port)
            tls=$(free_port)
        fi
        [ "$port" != "$tls" ] || continue
        echo "$port" > "$dir/port"
        echo "$tls" > "$dir/tls_port"
        cat > "$dir/conf/site.conf" <<SITE
upstream clickhouse {
    server 127.0.0.1:$(cat "$chdir/http_port");
    keepalive 16;
}
limit_req_zone \$binary_remote_addr zone=desktops:10m rate=${rate}r/s;
limit_req_status 429;

server {
    listen 127.0.0.1:$port;
    limit_req zone=desktops burst=$burst nodelay;
    include records.conf;
}
server {
    listen 127.0.0.1:$tls ssl;
    ssl_certificate ../tls/cert.pem;
    ssl_certificate_key ../tls/key.pem;
    ssl_protocols TLSv1.2 TLSv1.3;
    limit_req zone=desktops burst=$burst nodelay;
    include records.conf;
}
SITE
        nginx_cmd -t -q
        /usr/sbin/nginx -p "$dir/" -c conf/nginx.conf -g "daemon off;$workers" > "$dir/logs/stdout.log" 2>&1 &
        pid=$!
        echo "$pid" > "$dir/pid"
        for _ in $(seq 1 100); do
            if ! port_free "$port" && ! port_free "$tls"; then
                echo "http://127.0.0.1:$port/v1/records" | tee "$dir/url"
                echo "https://127.0.0.1:$tls/v1/records" > "$dir/tls_url"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        echo "nginx did not start (attempt $attempt); see $dir/logs/error.log" >&2
        stop
    done
    return 1
}

case "$command" in
    start) start "$@" ;;
    rotate) [ $# = 0 ] || usage; add_token; running && reload; cat "$dir/token" ;;
    reload) [ $# = 0 ] || usage; reload ;;
    stop) [ $# = 0 ] || usage; stop ;;
    *) usage ;;
esac
