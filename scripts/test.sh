#!/usr/bin/env bash
# Installs what the tests need, builds Vistelle with warnings as errors and runs every test.
# Fails when any test fails. Extra arguments go to ctest (for example -R Listener).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test
BUILD_DIR=${BUILD_DIR:-build} scripts/build.sh -DVISTELLE_WERROR=ON
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2 "$@"
