#!/usr/bin/env bash
# Visit-intake benchmark: the headless program (popups and sounds off) against nginx answering
# 204, both on loopback, each receiving the same load from bench_intake_client: REQUESTS requests
# (default 10000) from CLIENTS concurrent clients (default 50), each a fresh connection with a
# unique referer. Prints visits per second, median and 99th-percentile time from sending to the
# close, the visits the program counted ("Visit: " lines on its standard output) and the ratio
# to nginx. ROUNDS rounds (default 3), the program and nginx taking turns in each; the ratio is
# that of the median rates. The history is on (the program's default).
#   bench/intake/run.sh [REQUESTS] [CLIENTS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
requests=${1:-10000}
clients=${2:-50}
rounds=${ROUNDS:-3}

# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
bench_build vistelle bench_intake_client
program="$build/app/vistelle"
client="$build/bench/intake/bench_intake_client"
bench_workspace

# --- one round of the program, one of nginx --------------------------------------------------
run_program() {
    local port home out
    port=$(free_port)
    home="$tmp/home-$1"
    out="$tmp/program-$1.out"
    make_home "$home"
    cat >"$home/.config/RizidirUduzidodirer.conf" <<CONF
[Settings]
ListenPort=$port
SoundAlert=0
PopupAlert=0
CONF
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        "$program" --headless >"$out" 2>"$tmp/program.err" &
    local pid=$!
    pids+=("$pid")
    if ! wait_listening "$port"; then
        echo "the program does not listen on port $port:"; cat "$tmp/program.err"; exit 1
    fi
    program_result=$("$client" "$port" "$requests" "$clients" vistelle | grep '^RESULT' || true)
    # The program may still be writing its last lines.
    wait_counted "$out" "$requests"
    counted=$(grep -c 'Visit: ' "$out" || true)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
run_nginx() {
    nginx_result=""
    [[ -x "$nginx_bin" ]] || return 0
    local nport
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
        listen 127.0.0.1:$nport reuseport;
        location / { return 204; }
    }
}
CONF
    "$nginx_bin" -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" 2>"$tmp/nginx/start.err" &
    local pid=$!
    pids+=("$pid")
    if wait_listening "$nport"; then
        nginx_result=$("$client" "$nport" "$requests" "$clients" nginx | grep '^RESULT' || true)
    else
        echo "nginx did not start:"; cat "$tmp/nginx/start.err"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# --- figures ---------------------------------------------------------------------------------
echo "Visit intake: $requests requests from $clients concurrent loopback clients, one connection each, $rounds rounds"
printf '  %-34s %10s %10s %10s %8s %8s %8s\n' "" "per second" "median ms" "p99 ms" "refused" "failed" "lost"
show() {
    printf '  %-34s %10s %10s %10s %8s %8s %8s\n' "$1" "$(field rate "$2")" "$(field median_ms "$2")" \
        "$(field p99_ms "$2")" "$(field refused "$2")" "$(field failed "$2")" "$3"
}
[[ -x "$nginx_bin" ]] || echo "nginx not installed (Debian nginx-light): the baseline rows are skipped"
program_rates=() nginx_rates=() lost_total=0 refused_total=0
for round in $(seq 1 "$rounds"); do
    run_program "$round"
    lost=$((requests - counted))
    lost_total=$((lost_total + lost))
    refused_total=$((refused_total + $(field refused "$program_result")))
    program_rates+=("$(field rate "$program_result")")
    show "round $round: vistelle --headless" "$program_result" "$lost"
    run_nginx
    if [[ -n "$nginx_result" ]]; then
        nginx_rates+=("$(field rate "$nginx_result")")
        show "round $round: nginx (1 worker, 204)" "$nginx_result" ""
    fi
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "  median rate: vistelle $(median "${program_rates[@]}")/s; lost in all rounds: $lost_total; refused: $refused_total"
if [[ ${#nginx_rates[@]} -gt 0 ]]; then
    program_median=$(median "${program_rates[@]}")
    nginx_median=$(median "${nginx_rates[@]}")
    ratio=$(python3 -c "print(f'{$program_median / $nginx_median:.2f}')")
    goal=$(python3 -c "print('met' if $ratio >= 1.0 and $lost_total == 0 and $refused_total == 0 else 'NOT met')")
    echo "  median rate nginx: $nginx_median/s"
    echo "  rate ratio vistelle / nginx (medians): $ratio   goal >= 1.0 with 0 lost and none refused: $goal"
fi
