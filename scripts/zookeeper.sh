#!/usr/bin/env bash
# Starts and stops a single ZooKeeper server (Debian's package) for replicated
# ClickHouse tables, on loopback only, with its data in a scratch folder.
#
#   scripts/zookeeper.sh start DIR
#       installs zookeeper if missing, starts it on 127.0.0.1 with a free
#       client port, waits until it answers, prints "127.0.0.1:PORT" and writes
#       DIR/pid and DIR/port. A port already in DIR/port is taken again when
#       free (a restarted server keeps its address).
#   scripts/zookeeper.sh stop DIR
#       stops the server started in DIR by its process id
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: $0 start DIR | stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)

. "$root/scripts/lib/loopback.sh"

stop() { stop_pid_file "$dir/pid"; }

# "ruok" is not on the 3.8 whitelist by default; a session handshake is the
# plainest proof that the server serves clients.
answers() {
    python3 - "$1" <<'PY' 2>/dev/null
import socket, struct, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1)
req = struct.pack(">iqiq", 0, 0, 4000, 0) + struct.pack(">i", 16) + bytes(16) + b"\0"
s.sendall(struct.pack(">i", len(req)) + req)
n = struct.unpack(">i", s.recv(4))[0]
s.recv(n)
s.sendall(struct.pack(">iii", 8, 1, -11))  # closeSession
s.recv(64)
sys.exit(0 if n > 0 else 1)
PY
}

write_config() {
    cat > "$dir/zoo.cfg" <<CFG
tickTime=2000
initLimit=10
syncLimit=5
dataDir=$dir/data
clientPort=$1
clientPortAddress=127.0.0.1
maxClientCnxns=200
admin.enableServer=false
4lw.commands.whitelist=
autopurge.snapRetainCount=3
autopurge.purgeInterval=1
CFG
    cat > "$dir/log4j.properties" <<'CFG'
log4j.rootLogger=WARN, FILE
log4j.appender.FILE=org.apache.log4j.FileAppender
log4j.appender.FILE.File=${zookeeper.log.file}
log4j.appender.FILE.layout=org.apache.log4j.PatternLayout
log4j.appender.FILE.layout.ConversionPattern=%d{ISO8601} %-5p %c{1}: %m%n
CFG
}

start() {
    "$root/scripts/setup-debian.sh" zookeeper >&2
    stop
    mkdir -p "$dir/data"
    local port pid attempt
    port=$(cat "$dir/port" 2>/dev/null || true)
    # A port found free can be taken by another server before ours binds it
    # (tests start servers side by side): then try another.
    for attempt in 1 2 3; do
        if [ "$attempt" != 1 ] || [ -z "$port" ] || ! port_free "$port"; then port=$(free_port); fi
        echo "$port" > "$dir/port"
        write_config "$port"
        # The jar's manifest names its Debian dependencies; the log4j binding
        # comes from the package's own classpath.
        (cd "$dir" && exec java -Xmx256m -XX:+UseSerialGC \
            -Dzookeeper.log.dir="$dir" -Dzookeeper.log.file="$dir/zookeeper.log" \
            -Dlog4j.configuration="file:$dir/log4j.properties" \
            -cp "/usr/share/java/zookeeper.jar:/usr/share/java/slf4j-log4j12.jar:/usr/share/java/log4j-1.2.jar" \
            org.apache.zookeeper.server.quorum.QuorumPeerMain "$dir/zoo.cfg" \
            >"$dir/stdout.log" 2>&1) &
        pid=$!
        echo "$pid" > "$dir/pid"
        for _ in $(seq 1 300); do
            if answers "$port"; then
                echo "127.0.0.1:$port"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        echo "zookeeper did not start (attempt $attempt):" >&2
        tail -n 5 "$dir/stdout.log" "$dir/zookeeper.log" >&2 2>/dev/null || true
        stop
    done
    return 1
}

case "$command" in
    start) start ;;
    stop) stop ;;
    *) usage ;;
esac
