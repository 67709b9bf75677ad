#!/usr/bin/env bash
# TLS visit-intake benchmark: the headless program serving TLS (popups and sounds off; TlsCertFile
# and TlsKeyFile set) against nginx with TLS answering 204, both on loopback with the same P-256
# certificate, each receiving the same load from bench_intake_client in its "tls" mode: REQUESTS
# requests (default 5000) from CLIENTS concurrent clients (default 50), each a fresh connection
# with a full handshake and a unique referer. Prints visits per second, median and
# 99th-percentile time from connecting to the close, the visits the program counted ("Visit: "
# lines on its standard output) and the ratio to nginx; then the program's resident memory under a
# flood of 1,000 handshakes begun and never finished (bench/tls/flood.py).
#   bench/tls/run.sh [REQUESTS] [CLIENTS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
requests=${1:-5000}
clients=${2:-50}
# NO_BUILD=1: use what $BUILD_DIR holds (a build with -DVISTELLE_BUILD_BENCH=ON).
if [[ -z "${NO_BUILD:-}" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTELLE_BUILD_TESTS=OFF -DVISTELLE_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target vistelle bench_intake_client >/dev/null
fi
program="$build/app/vistelle"
client="$build/bench/intake/bench_intake_client"

# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
bench_workspace
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=bench.example \
    -addext subjectAltName=DNS:bench.example -keyout "$tmp/key.pem" -out "$tmp/cert.pem" 2>/dev/null
chmod 600 "$tmp/key.pem"

# --- the program -----------------------------------------------------------------------------
port=$(free_port)
home="$tmp/home"
make_home "$home"
cat >"$home/.config/RizidirUduzidodirer.conf" <<CONF
[Settings]
ListenPort=$port
SoundAlert=0
PopupAlert=0
TlsCertFile=$tmp/cert.pem
TlsKeyFile=$tmp/key.pem
CONF
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
    QT_QPA_PLATFORM=offscreen "$program" --headless >"$tmp/program.out" 2>"$tmp/program.err" &
program_pid=$!
pids+=("$program_pid")
if ! wait_listening "$port"; then
    echo "the program does not listen on port $port:"; cat "$tmp/program.err"; exit 1
fi
program_result=$("$client" "$port" "$requests" "$clients" vistelle tls | grep '^RESULT' || true)
# The program may still be writing its last lines.
wait_counted "$tmp/program.out" "$requests"
counted=$(grep -c 'Visit: ' "$tmp/program.out" || true)
# A flood at the connection cap (1000): handshakes begun and never finished, memory measured.
flood_result=$( (ulimit -n 4096; python3 "$root/bench/tls/flood.py" "$port" 1000 "$program_pid") | grep '^FLOOD' || true)
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true

# --- nginx -----------------------------------------------------------------------------------
nginx_result=""
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [[ -x "$nginx_bin" ]]; then
    nport=$(free_port)
    mkdir -p "$tmp/nginx/logs" "$tmp/nginx/tmp"
    cat >"$tmp/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $tmp/nginx/tmp;
    server {
        listen 127.0.0.1:$nport ssl reuseport;
        ssl_certificate $tmp/cert.pem;
        ssl_certificate_key $tmp/key.pem;
        ssl_protocols TLSv1.2 TLSv1.3;
        ssl_session_tickets off;
        location / { return 204; }
    }
}
CONF
    "$nginx_bin" -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" 2>"$tmp/nginx/start.err" &
    nginx_pid=$!
    pids+=("$nginx_pid")
    if wait_listening "$nport"; then
        nginx_result=$("$client" "$nport" "$requests" "$clients" nginx tls | grep '^RESULT' || true)
    else
        echo "nginx did not start:"; cat "$tmp/nginx/start.err"
    fi
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
else
    echo "nginx not installed (Debian nginx-light): the baseline row is skipped"
fi

# --- figures ---------------------------------------------------------------------------------
echo "TLS visit intake: $requests requests from $clients concurrent loopback clients, one connection and full handshake each"
printf '  %-28s %10s %10s %10s %8s %8s\n' "" "per second" "median ms" "p99 ms" "refused" "failed"
show() {
    printf '  %-28s %10s %10s %10s %8s %8s\n' "$1" "$(field rate "$2")" "$(field median_ms "$2")" \
        "$(field p99_ms "$2")" "$(field refused "$2")" "$(field failed "$2")"
}
show "vistelle --headless (TLS)" "$program_result"
[[ -n "$nginx_result" ]] && show "nginx (1 worker, TLS, 204)" "$nginx_result"
lost=$((requests - counted))
echo "  visits the program counted: $counted of $requests (lost: $lost)"
if [[ -n "$nginx_result" ]]; then
    ratio=$(python3 -c "print(f'{float(\"$(field rate "$program_result")\") / float(\"$(field rate "$nginx_result")\"):.2f}')")
    goal=$(python3 -c "print('met' if $ratio >= 0.8 and $lost == 0 and '$(field refused "$program_result")' == '0' else 'NOT met')")
    echo "  TLS rate ratio vistelle / nginx: $ratio   goal >= 0.8 with 0 lost and none refused: $goal"
fi
if [[ -n "$flood_result" ]]; then
    rss_mb=$(( $(field rss "$flood_result") / 1024 ))
    echo "  resident memory with $(field connections "$flood_result") unfinished handshakes: ${rss_mb} MB (peak $(( $(field peak "$flood_result") / 1024 )) MB)   goal < 300 MB: $([[ $rss_mb -lt 300 ]] && echo met || echo 'NOT met')"
fi
