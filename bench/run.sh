#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its own figures and ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-bench} BUILD_TYPE=Release scripts/build.sh -DVISTELLE_BUILD_BENCH=ON
for b in "${BUILD_DIR:-build-bench}"/bench/*/bench_*; do
    [[ -x "$b" && ! -d "$b" ]] || continue
    # Load clients are driven by their folder's run.sh.
    [[ "$b" == *_client ]] && continue
    echo "== $(basename "$b")"
    "$b"
done
for s in bench/*/run.sh; do
    [[ -x "$s" ]] || continue
    echo "== $s"
    "$s"
done
