#!/usr/bin/env bash
# Relay benchmark: REQUESTS visits (default 10000) from CLIENTS concurrent loopback clients
# (default 50) into vistelled publishing to a mosquitto broker on loopback, received by a headless
# desktop subscribing there; in the same run, the same load into the headless program directly
# (the intake benchmark's case, history on). Prints both rates, the relayed visits' p99 time from
# the publisher's visit to the desktop's log line, the visits lost and the ones counted twice, and
# the ratio relayed / direct (medians of ROUNDS rounds, default 3). Goal: >= 0.8, p99 < 100 ms, 
# none lost, none twice.
#   bench/relay/run.sh [REQUESTS] [CLIENTS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
bench_build vistelle vistelled bench_intake_client
command -v mosquitto >/dev/null || [[ -x /usr/sbin/mosquitto ]] || { echo "mosquitto not installed: skipped"; exit 0; }
exec python3 "$root/bench/relay/relay_bench.py" "$build" "${1:-10000}" "${2:-50}" "${ROUNDS:-3}"
