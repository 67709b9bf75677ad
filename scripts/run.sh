#!/usr/bin/env bash
# Installs what Vistelle needs, builds it and runs it. Extra arguments go to the program
# (for example --headless). Without a display the program runs headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
exec build/app/vistelle "$@"
