# Helpers shared by the benchmarks' run scripts (sourced, not run).

# A free port below 32768: the program reads ListenPort as a 16-bit signed number.
free_port() {
    python3 - <<'PY'
import random, socket
for _ in range(200):
    port = random.randint(20000, 32000)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        s.close()
    print(port)
    break
PY
}

# Waits until something listens on 127.0.0.1:$1 (without connecting: a connection would count
# as a visit).
wait_listening() {
    for _ in $(seq 1 200); do
        if ss -Hltn "sport = :$1" | grep -q .; then return 0; fi
        sleep 0.1
    done
    return 1
}

# The value of "name=value" named $1 in the load client's RESULT line $2.
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }

# A throwaway home $1 for the program: its XDG folders, the runtime folder private.
make_home() {
    mkdir -p "$1/.config" "$1/.local/share" "$1/run"
    chmod 700 "$1/run"
}

# Waits until the program's standard output $1 holds $2 "Visit: " lines, or their count has
# stopped growing for a second (at most ten minutes).
wait_counted() {
    local last=-1 still=0 now
    for _ in $(seq 1 2400); do
        now=$(grep -c 'Visit: ' "$1" || true)
        [[ "$now" -ge "$2" ]] && return 0
        if [[ "$now" -eq "$last" ]]; then
            still=$((still + 1))
            [[ "$still" -ge 4 ]] && return 0
        else
            still=0
        fi
        last=$now
        sleep 0.25
    done
}

# Configures the optimised benchmark tree $build (Release, no tests) and builds the targets named.
bench_build() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTELLE_BUILD_TESTS=OFF \
        -DVISTELLE_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
}

# A scratch folder $tmp and the list $pids of background processes the run starts; when the
# script ends the processes are stopped and the folder is removed.
bench_workspace() {
    tmp=$(mktemp -d)
    pids=()
    trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$tmp"' EXIT
}
