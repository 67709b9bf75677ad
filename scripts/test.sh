#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, builds Vistelle with warnings as errors and runs every test.
# Fails when any test fails. Extra arguments go to ctest (for example -R Listener); without them the
# script ends with scripts/package-check.sh (the Debian packages and the install layout).
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
# A full run also builds the Debian packages and checks them and the install layout
# (PACKAGE_CHECK=0 skips it).
if [[ $# -eq 0 && "${SANITIZE:-0}" != 1 && "${PACKAGE_CHECK:-1}" != 0 ]]; then
    BUILD_DIR=${BUILD_DIR:-build} scripts/package-check.sh
fi
