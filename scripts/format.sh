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

# The logic libraries (vistelle_core, _capture, _alerts, _publish, _nettools, _history, _relay, _engine)
# never use Qt Gui or Qt Widgets: none of their sources may include a header of either.
qt_headers=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)
mapfile -t logic < <(python3 - <<'PY'
import pathlib, re
for cmake in sorted(pathlib.Path('.').glob('*/CMakeLists.txt')):
    text = cmake.read_text()
    for m in re.finditer(r'add_library\(vistelle_(core|capture|alerts|publish|nettools|history|relay|engine)\s+STATIC(.*?)\)', text, re.S):
        for name in m.group(2).split():
            if name.endswith(('.cpp', '.h')):
                print(cmake.parent / name)
PY
)
pattern=$( (ls "$qt_headers/QtWidgets" "$qt_headers/QtGui") | grep -v '\.h$' | sort -u | paste -sd'|')
offending=$(grep -nE "^\s*#\s*include\s*[<\"]((QtWidgets|QtGui)/[^>\"]+|($pattern))[>\"]" "${logic[@]}" || true)
if [[ -n "$offending" ]]; then
    echo "Logic libraries include Qt Gui or Qt Widgets headers (move that code to a window library):"
    echo "$offending" | sed 's/^/  /'
    exit 1
fi
