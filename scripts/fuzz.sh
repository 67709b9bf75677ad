#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz (or $FUZZ_BUILD_DIR) and runs each for SECONDS.
#   scripts/fuzz.sh [SECONDS] [NAME...]      SECONDS defaults to 10; NAME: request_parsing, ...
# Each harness starts from its seeds in tests/fuzz/corpus/<name>/; inputs it finds go to
# build-fuzz/corpus/<name>/ and carry over to the next run. A crash, a failed check or a hang
# leaves the input in build-fuzz/findings/<name>/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
shift || true
build=${FUZZ_BUILD_DIR:-build-fuzz}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DVISTELLE_FUZZ=ON -DVISTELLE_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target vistelle_fuzzers

names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
    for dir in tests/fuzz/corpus/*/; do names+=("$(basename "$dir")"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14 || true)}
export QT_QPA_PLATFORM=offscreen

failed=()
for name in "${names[@]}"; do
    case "$name" in
    request_intake) extra=(-max_len=3000) ;; # one byte per round trip: short inputs
    country_file | visitor_list) extra=(-max_len=16384) ;;
    *) extra=(-max_len=8192) ;;
    esac
    corpus="$build/corpus/$name"
    findings="$build/findings/$name"
    mkdir -p "$corpus" "$findings"
    echo "== $name: $seconds s"
    if ! "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$findings/" "${extra[@]}" "$corpus" "tests/fuzz/corpus/$name" 2>"$build/fuzz-$name.log"; then
        tail -n 60 "$build/fuzz-$name.log"
        failed+=("$name")
    else
        grep -E '^(Done|stat::number_of_executed_units)' "$build/fuzz-$name.log" || true
    fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "Fuzzing found problems in: ${failed[*]} (inputs in $build/findings/)" >&2
    exit 1
fi
