#!/usr/bin/env bash
# Start-up and idle benchmark: how long vistelle --headless and vistelled take from their start
# until they listen (median of ROUNDS starts, default 5), and the CPU they use while idle
# (IDLE_SECONDS, default 10, after start-up). Goals: under 150 ms to listening, under 0.5 % idle.
#   bench/startup/run.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rounds=${ROUNDS:-5}
idle_seconds=${IDLE_SECONDS:-10}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTELLE_BUILD_TESTS=OFF -DVISTELLE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target vistelle vistelled >/dev/null

# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
bench_workspace

# A home $1 for the program listening on port $2, its outside services pointed at a closed port.
make_program_home() {
    make_home "$1"
    printf '[Settings]\nListenPort=%s\nusedyndns=0\nEchoPageURL=http://127.0.0.1:1/\nUpdateStatusURL=http://127.0.0.1:1/\nUpdateVersionURL=http://127.0.0.1:1/\n' \
        "$2" >"$1/.config/RizidirUduzidodirer.conf"
}

# Milliseconds from the start of "$@" until it listens on $port (asking every 2 ms). The kernel is
# asked for listening sockets only (socket diagnostics over netlink, as ss does): reading
# /proc/net/tcp lists every socket, and after the intake benchmark tens of thousands wait in
# TIME_WAIT, which made one reading take longer than the start being measured.
start_ms() {
    local home=$1 port=$2
    shift 2
    python3 - "$port" "$home" "$@" <<'PY'
import os, socket, struct, subprocess, sys, time
port, home, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]

def listening(port):
    for family in (socket.AF_INET, socket.AF_INET6):
        with socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 4) as nl:  # NETLINK_SOCK_DIAG
            # inet_diag_req_v2: family, protocol, extensions, padding, states (1 << TCP_LISTEN), socket id
            req = struct.pack("=BBBBI", family, socket.IPPROTO_TCP, 0, 0, 1 << 10) + bytes(48)
            # SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP
            nl.send(struct.pack("=IHHII", 16 + len(req), 20, 0x301, 1, 0) + req)
            while True:
                data = nl.recv(65536)
                at = 0
                while at + 16 <= len(data):
                    length, kind = struct.unpack_from("=IH", data, at)
                    if kind in (2, 3):  # NLMSG_ERROR, NLMSG_DONE
                        break
                    # inet_diag_msg: family, state, timer, retransmits, then the source port
                    if struct.unpack_from("!H", data, at + 16 + 4)[0] == port:
                        return True
                    at += (length + 3) & ~3
                else:
                    continue
                break
    return False

env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config", XDG_DATA_HOME=f"{home}/.local/share",
           XDG_RUNTIME_DIR=f"{home}/run")
env.pop("DISPLAY", None); env.pop("WAYLAND_DISPLAY", None)
start = time.monotonic()
proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
listening_ms = None
while time.monotonic() - start < 10:
    if listening(port):
        listening_ms = (time.monotonic() - start) * 1000
        break
    time.sleep(0.002)
proc.terminate()
proc.wait()
print(f"{listening_ms:.0f}" if listening_ms is not None else "none")
PY
}

echo "Start-up to listening (median of $rounds starts) and CPU while idle ($idle_seconds s)"
printf '  %-22s %12s %12s\n' "" "start ms" "idle CPU %"
for program in "vistelle --headless" vistelled; do
    read -r -a cmd <<<"$program"
    cmd[0]="$build/$( [[ ${cmd[0]} == vistelled ]] && echo engine || echo app )/${cmd[0]}"
    times=()
    for round in $(seq 1 "$rounds"); do
        home="$tmp/home-$round-${cmd[0]##*/}"
        port=$(free_port)
        make_program_home "$home" "$port"
        times+=("$(start_ms "$home" "$port" "${cmd[@]}")")
    done
    start=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p")
    # Idle: CPU time used over idle_seconds once started.
    home="$tmp/idle-${cmd[0]##*/}"
    port=$(free_port)
    make_program_home "$home" "$port"
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        DISPLAY='' WAYLAND_DISPLAY='' "${cmd[@]}" >/dev/null 2>&1 &
    pid=$!
    pids+=("$pid")
    wait_listening "$port" || { echo "$program does not listen"; exit 1; }
    sleep 2
    ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
    before=$(ticks)
    sleep "$idle_seconds"
    after=$(ticks)
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    hz=$(getconf CLK_TCK)
    idle=$(python3 -c "print(f'{($after - $before) / $hz / $idle_seconds * 100:.2f}')")
    printf '  %-22s %12s %12s\n' "$program" "$start" "$idle"
    goal=$(python3 -c "print('met' if '$start' != 'none' and float('$start') < 150 and $idle < 0.5 else 'NOT met')")
    echo "    goal under 150 ms and under 0.5 %: $goal"
done
