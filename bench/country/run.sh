#!/usr/bin/env bash
# Country lookup benchmark. Builds bench_country (optimised build in $BUILD_DIR, default
# build-bench), fetches an .mmdb of the same source data through npm (into a temporary folder
# that is removed afterwards; the row is skipped when that fails) and runs the comparison.
#   bench/country/run.sh [extra bench_country arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTELLE_BUILD_TESTS=OFF -DVISTELLE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_country >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mmdb_args=()
package=@ip-location-db/geo-whois-asn-country-mmdb@2.3.2026061719
if command -v npm >/dev/null 2>&1 \
    && (cd "$tmp" && timeout 180 npm pack --silent "$package" >/dev/null 2>&1) \
    && tar -xzf "$tmp"/*.tgz -C "$tmp" package/geo-whois-asn-country-ipv4.mmdb 2>/dev/null; then
    mmdb_args=(--mmdb "$tmp/package/geo-whois-asn-country-ipv4.mmdb")
    echo "mmdb: $package (geo-whois-asn-country-ipv4.mmdb)"
else
    echo "mmdb: could not fetch $package through npm: the libmaxminddb row is skipped"
fi
"$build/bench/country/bench_country" --csv "$root/data/GeoIPCountryWhois.csv" "${mmdb_args[@]}" "$@"
