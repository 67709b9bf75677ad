#!/usr/bin/env python3
"""Builds data/GeoIPv6CountryWhois.csv from the IPv6 file of the npm package
@ip-location-db/geo-whois-asn-country (geo-whois-asn-country-ipv6.csv: "first,last,CC" per line).

Each output line: "first","last","CC",Name with both addresses in their canonical text (RFC 5952)
and the country name the shipped IPv4 file gives the same code (codes the IPv4 file lacks are
named from Debian's iso-codes, withdrawn codes included). The published file lists some ranges
inside wider ones, the more specific after the wider; the output holds disjoint, sorted ranges in
which the more specific range wins, so the first-match rule of the program, a database built from
the output and the published data all give the same answer for every address.

    scripts/make-country-ipv6.py geo-whois-asn-country-ipv6.csv > data/GeoIPv6CountryWhois.csv
"""
import heapq
import ipaddress
import json
import os
import sys
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def names_from_ipv4_file():
    names = {}
    with open(os.path.join(ROOT, "data", "GeoIPCountryWhois.csv"), encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\r\n").split(",")
            if len(fields) >= 6:
                names[fields[4].strip('"')] = fields[-1]
    return names


def ascii_name(name):
    folded = unicodedata.normalize("NFKD", name).encode("ascii", "ignore").decode("ascii")
    return folded.replace(",", "")


def names_from_iso_codes():
    names = {}
    for part, key in (("iso_3166-3.json", "3166-3"), ("iso_3166-1.json", "3166-1")):
        path = os.path.join("/usr/share/iso-codes/json", part)
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8") as f:
            for entry in json.load(f)[key]:
                code = entry.get("alpha_2") or entry.get("alpha_4", "")[:2]
                names[code] = ascii_name(entry.get("common_name") or entry["name"])
    return names


def flatten(ranges):
    """Disjoint pieces (first, last, code) where each address takes the range listed last among
    those that hold it."""
    events = []
    for index, (first, last, _) in enumerate(ranges):
        events.append((first, 1, index))
        events.append((last + 1, 0, index))
    events.sort()
    active = set()
    heap = []  # -index of the ranges that have started; ended ones are dropped lazily
    pieces = []  # [first, last, index]
    i = 0
    while i < len(events):
        at = events[i][0]
        while i < len(events) and events[i][0] == at:
            _, start, index = events[i]
            if start:
                active.add(index)
                heapq.heappush(heap, -index)
            else:
                active.discard(index)
            i += 1
        while heap and -heap[0] not in active:
            heapq.heappop(heap)
        if pieces and pieces[-1][1] is None:
            pieces[-1][1] = at - 1
        if heap:
            winner = -heap[0]
            if pieces and pieces[-1][2] == winner and pieces[-1][1] == at - 1:
                pieces[-1][1] = None  # the same range goes on
            else:
                pieces.append([at, None, winner])
    return [(first, last, ranges[index][2]) for first, last, index in pieces]


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    names = names_from_iso_codes()
    names.update(names_from_ipv4_file())
    ranges = []
    with open(sys.argv[1], encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            first_text, last_text, code = line.strip().split(",")
            first = int(ipaddress.IPv6Address(first_text))
            last = int(ipaddress.IPv6Address(last_text))
            if first > last:
                raise SystemExit(f"line {number}: empty range")
            if code not in names:
                raise SystemExit(f"line {number}: no name for country code {code}")
            ranges.append((first, last, code))
    out = sys.stdout
    for first, last, code in flatten(ranges):
        out.write(f'"{ipaddress.IPv6Address(first).compressed}","{ipaddress.IPv6Address(last).compressed}",'
                  f'"{code}",{names[code]}\n')
    return 0


if __name__ == "__main__":
    sys.exit(main())
