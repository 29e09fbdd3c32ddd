# Shared by the scripts that run servers on loopback (sourced, not run).

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
    local p
    for _ in $(seq 1 200); do
        p=$(( 20000 + RANDOM % 30000 ))
        port_free "$p" && { echo "$p"; return; }
    done
    echo "no free port found" >&2
    return 1
}

# Stops the process whose id is in the file, if it runs, and removes the file.
stop_pid_file() {
    [ -f "$1" ] || return 0
    local pid
    pid=$(cat "$1")
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$1"
}

# 48 random hex digits: passwords and tokens.
random_secret() { head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n'; }
