#!/usr/bin/env bash
# History benchmark, three parts, each with its figures and goal:
#   1. bench_history: the history window on STORED generated visits (default 1,000,000).
#   2. Intake: the headless program receives REQUESTS visits (default 10,000) from 50 concurrent
#      loopback clients, with the history on and off (KeepHistory=1/0), alternately ROUNDS times
#      (default 3); median rates, their ratio, and the visits lost to the log and to the file.
#   3. Memory: the headless program after LONG visits (default 1,000,000) of distinct ordinary
#      pages: resident memory (VmRSS) and its peak (VmHWM).
#   bench/history/run.sh [STORED] [REQUESTS] [LONG] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
stored=${1:-1000000}
requests=${2:-10000}
long=${3:-1000000}
rounds=${4:-3}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTELLE_BUILD_TESTS=OFF -DVISTELLE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target vistelle bench_intake_client bench_history >/dev/null
program="$build/app/vistelle"
client="$build/bench/intake/bench_intake_client"

# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
bench_workspace

# Starts the headless program in a fresh home; sets $port, $home and $program_pid.
start_program() {
    local keep=$1 name=$2
    port=$(free_port)
    home="$tmp/$name"
    make_home "$home"
    cat >"$home/.config/RizidirUduzidodirer.conf" <<CONF
[Settings]
ListenPort=$port
SoundAlert=0
PopupAlert=0
usedyndns=0
KeepHistory=$keep
CONF
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        QT_QPA_PLATFORM=offscreen "$program" --headless >"$home/out" 2>"$home/err" &
    program_pid=$!
    pids+=("$program_pid")
    wait_listening "$port" || { echo "the program does not listen:"; cat "$home/err"; exit 1; }
}

stored_count() {
    python3 -c "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute('select count(*) from visits').fetchone()[0])" \
        "$home/.local/share/vistelle/history.sqlite3" 2>/dev/null || echo 0
}

# --- 1. the window on a million stored visits ------------------------------------------------
echo "== 1. History window"
"$build/bench/history/bench_history" "$stored" "$tmp/stored.sqlite3" 2>/dev/null
rm -f "$tmp"/stored.sqlite3*

# --- 2. intake with the history on and off -----------------------------------------------------
echo "== 2. Intake: $requests visits from 50 concurrent loopback clients, history on and off, $rounds rounds"
on_rates=() off_rates=() lost_total=0 history_lost=0
for round in $(seq 1 "$rounds"); do
    for keep in 1 0; do
        start_program "$keep" "intake-$round-$keep"
        result=$("$client" "$port" "$requests" 50 "r$round" | grep '^RESULT' || true)
        wait_counted "$home/out" "$requests"
        counted=$(grep -c 'Visit: ' "$home/out" || true)
        sleep 1 # the history's last batch
        kill "$program_pid"; wait "$program_pid" 2>/dev/null || true
        lost=$((requests - counted))
        lost_total=$((lost_total + lost))
        rate=$(field rate "$result")
        if [[ "$keep" == 1 ]]; then
            kept=$(stored_count)
            history_lost=$((history_lost + counted - kept))
            on_rates+=("$rate")
            printf '  round %d, history on:  %8s visits/s, logged %d, stored %d\n' "$round" "$rate" "$counted" "$kept"
        else
            off_rates+=("$rate")
            printf '  round %d, history off: %8s visits/s, logged %d\n' "$round" "$rate" "$counted"
        fi
    done
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
on=$(median "${on_rates[@]}")
off=$(median "${off_rates[@]}")
ratio=$(python3 -c "print(f'{$on / $off:.2f}')")
goal=$(python3 -c "print('met' if $ratio >= 0.8 and $lost_total == 0 and $history_lost == 0 else 'NOT met')")
echo "  median rate on $on, off $off visits/s; ratio on / off: $ratio; lost: $lost_total logged, $history_lost to the file"
echo "  goal ratio >= 0.8 with 0 lost: $goal"

# --- 3. memory after a long run ----------------------------------------------------------------
echo "== 3. Memory: the headless program after $long visits of distinct pages"
start_program 1 memory
start_rss=$(awk '/VmRSS/ {print $2}' "/proc/$program_pid/status")
started=$(date +%s)
result=$("$client" "$port" "$long" 50 memory | grep '^RESULT' || true)
wait_counted "$home/out" "$long"
counted=$(grep -c 'Visit: ' "$home/out" || true)
sleep 2
rss=$(awk '/VmRSS/ {print $2}' "/proc/$program_pid/status")
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$program_pid/status")
kill "$program_pid"; wait "$program_pid" 2>/dev/null || true
kept=$(stored_count)
echo "  $counted visits logged, $kept stored, in $(( $(date +%s) - started )) s ($(field rate "$result") visits/s)"
echo "  resident memory: $((start_rss / 1024)) MB at start, $((rss / 1024)) MB after, peak $((hwm / 1024)) MB"
goal=$(python3 -c "print('met' if $rss < 150 * 1024 and $counted == $long else 'NOT met')")
echo "  goal < 150 MB resident after $long visits: $goal"
