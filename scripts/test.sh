#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, builds Vistelle with warnings as errors and runs every test,
# then runs each fuzzer for 10 s (scripts/fuzz.sh; FUZZ_SECONDS changes that, 0 skips it) and builds and checks the
# Debian packages and the install layout (scripts/package-check.sh; PACKAGE_CHECK=0 skips it, SANITIZE=1 too).
# Fails when any test fails, a fuzzer finds a problem or a package check fails. Extra arguments go to ctest (for
# example -R Listener); with them neither the fuzzers nor the package check run.
# SANITIZE=1 builds in build-asan with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test
scripts/format.sh
if [[ "${SANITIZE:-0}" == 1 ]]; then
    export BUILD_DIR=${BUILD_DIR:-build-asan} BUILD_TYPE=Debug
    BUILD_DIR=$BUILD_DIR scripts/build.sh -DVISTELLE_WERROR=ON -DVISTELLE_SANITIZE=ON -DVISTELLE_BUILD_BENCH=OFF
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
else
    BUILD_DIR=${BUILD_DIR:-build} scripts/build.sh -DVISTELLE_WERROR=ON
fi
(cd "${BUILD_DIR:-build}" && ctest --output-on-failure -j2 "$@")
fuzz_seconds=${FUZZ_SECONDS:-10}
if [[ $# -eq 0 && "$fuzz_seconds" != 0 ]]; then
    # deps.sh --test installed clang-14 and libFuzzer; a machine without them says so.
    if command -v clang++-14 >/dev/null; then
        scripts/fuzz.sh "$fuzz_seconds"
    else
        echo "clang++-14 is missing: run scripts/deps.sh --test to fuzz" >&2
        exit 1
    fi
fi
# A full run also builds the Debian packages and checks them and the install layout
# (PACKAGE_CHECK=0 skips it).
if [[ $# -eq 0 && "${SANITIZE:-0}" != 1 && "${PACKAGE_CHECK:-1}" != 0 ]]; then
    BUILD_DIR=${BUILD_DIR:-build} scripts/package-check.sh
fi
