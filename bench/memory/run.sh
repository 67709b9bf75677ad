#!/usr/bin/env bash
# Memory benchmark: the program with its main window on a virtual X display (the event log's
# document and the visitor list both filling), popups and sounds off, receiving
#   1. ORDINARY visits (default 1,000,000) to a site of 50 pages, and
#   2. LONG visits (default 100,000) each with a referer of its own of 4,096 characters, the
#      longest a visitor can make the program keep.
# Prints the resident memory after each load (VmRSS) and its peak (VmHWM) against the goals:
# under 150 MB after the ordinary visits, under 300 MB whatever the visitors send. The baseline is
# the same program's resident memory right after it started listening, measured in the same run.
#   bench/memory/run.sh [ORDINARY] [LONG]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
ordinary=${1:-1000000}
long=${2:-100000}

# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
bench_build vistelle bench_intake_client
program="$build/app/vistelle"
client="$build/bench/intake/bench_intake_client"
bench_workspace

kib() { sed -n "s/^$1:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$2/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# One run: $1 name, $2 requests, then the environment for the load client.
run_load() {
    local name=$1 requests=$2 port home out pid
    shift 2
    port=$(free_port)
    home="$tmp/home-$name"
    out="$tmp/$name.err"
    make_home "$home"
    cat >"$home/.config/RizidirUduzidodirer.conf" <<CONF
[Settings]
ListenPort=$port
SoundAlert=0
PopupAlert=0
usedyndns=0
CONF
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        xvfb-run -a -s "-screen 0 1280x900x24" "$program" >/dev/null 2>"$out" &
    pids+=("$!")
    if ! wait_listening "$port"; then
        echo "the program does not listen on port $port:"; cat "$out"; exit 1
    fi
    pid=$(pgrep -n -f "^$program" || true)
    [[ -n "$pid" ]] || { echo "no program process"; exit 1; }
    local start_kib
    start_kib=$(kib VmRSS "$pid")
    local result
    result=$(env "$@" "$client" "$port" "$requests" 20 "$name" | grep '^RESULT' || true)
    sleep 3 # the last visits reach the list, the log and the history
    local rss hwm
    rss=$(kib VmRSS "$pid")
    hwm=$(kib VmHWM "$pid")
    printf '  %-9s %8d visits  rate %8s/s  started %7s MB  after %7s MB  peak %7s MB\n' "$name" \
        "$(field ok "$result")" "$(field rate "$result")" "$(mib "$start_kib")" "$(mib "$rss")" "$(mib "$hwm")"
    eval "${name}_rss=$rss ${name}_hwm=$hwm ${name}_start=$start_kib"
    kill "$pid" 2>/dev/null || true
    wait 2>/dev/null || true
}

echo "Memory of the program with its window (resident, MB)"
run_load ordinary "$ordinary" BENCH_PAGES=50
run_load long "$long" BENCH_PAGE_CHARS=4096
echo
verdict() { if [[ $1 -lt $(($2 * 1024)) ]]; then echo met; else echo "NOT met"; fi; }
printf '  ordinary visits: after / goal 150 MB   %6s MB   %s\n' "$(mib "$ordinary_rss")" "$(verdict "$ordinary_rss" 150)"
printf '  long pages: peak / goal 300 MB         %6s MB   %s\n' "$(mib "$long_hwm")" "$(verdict "$long_hwm" 300)"
printf '  growth over the started program: ordinary x%s, long x%s\n' \
    "$(awk -v a="$ordinary_rss" -v b="$ordinary_start" 'BEGIN { printf "%.1f", a / b }')" \
    "$(awk -v a="$long_hwm" -v b="$long_start" 'BEGIN { printf "%.1f", a / b }')"
