#!/usr/bin/env bash
# Checks that the C++ sources follow .clang-format (exit 1 and the files that differ when not).
#   scripts/format.sh          check
#   scripts/format.sh --fix    reformat in place
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is missing (scripts/deps.sh --test installs it)"; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
bad=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [[ ${#bad[@]} -gt 0 ]]; then
    echo "Not formatted by .clang-format (run scripts/format.sh --fix):"
    printf '  %s\n' "${bad[@]}"
    exit 1
fi
