#!/bin/sh
# Refreshes data/crawler-user-agents.json, the crawler patterns, from the npm package
# crawler-user-agents (MIT), the newest version or the one given:
#
#     scripts/make-crawler-data.sh            # the newest version from the npm registry
#     scripts/make-crawler-data.sh 1.60.0     # that version
#
# Prints the version and the number of patterns; the version is named by hand in
# data/NOTICE-crawler-user-agents.md and packaging/copyright.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
version=${1:-latest}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "crawler-user-agents@$version" >/dev/null)
tar -xzf "$work"/crawler-user-agents-*.tgz -C "$work"
python3 - "$work/package/crawler-user-agents.json" <<'PY'
import json, sys
patterns = json.load(open(sys.argv[1], encoding="utf-8"))
assert isinstance(patterns, list) and all("pattern" in p for p in patterns), "not a pattern list"
PY
cp "$work/package/crawler-user-agents.json" "$root/data/crawler-user-agents.json"
printf 'crawler-user-agents %s: %s patterns\n' \
    "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["version"])' "$work/package/package.json")" \
    "$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$root/data/crawler-user-agents.json")"
