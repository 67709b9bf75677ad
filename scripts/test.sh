#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, builds Vistelle with warnings as errors and runs every test.
# Fails when any test fails. Extra arguments go to ctest (for example -R Listener).
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
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2 "$@"
