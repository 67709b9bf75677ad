#!/usr/bin/env python3
"""Builds the shipped country files from DB-IP's "IP to Country Lite" database as the npm package
@ip-location-db/dbip-country publishes it (files dbip-country-ipv4-num.csv and
dbip-country-ipv6.csv, "first,last,CC" per line). DB-IP publishes a new edition every month.

    scripts/make-country-data.py --fetch          # the newest edition from the npm registry
    scripts/make-country-data.py PACKAGE_FOLDER   # an unpacked package (its "package" folder)

Writes data/GeoIPCountryWhois.csv ("first","last",firstNumber,lastNumber,"CC",Name) and
data/GeoIPv6CountryWhois.csv ("first","last","CC",Name, addresses in canonical text), each with
disjoint, sorted ranges, neighbours of one country joined. Where ranges overlap, the one listed
later wins. Special-purpose addresses (loopback, private, shared, link-local, documentation,
benchmarking, unique local, multicast, reserved) are left out: they have no country. Country names
are those the shipped IPv4 file already gives each code, else Debian's iso-codes, folded to ASCII
and free of commas. Prints the edition and the counts; data/NOTICE-GeoIPCountryWhois.md names the
edition by hand.
"""
import glob
import heapq
import ipaddress
import json
import os
import subprocess
import sys
import tarfile
import tempfile
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IPV4_FILE = os.path.join(ROOT, "data", "GeoIPCountryWhois.csv")
IPV6_FILE = os.path.join(ROOT, "data", "GeoIPv6CountryWhois.csv")
PACKAGE = "@ip-location-db/dbip-country"

SPECIAL_V4 = ["0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "127.0.0.0/8", "169.254.0.0/16", "172.16.0.0/12",
              "192.0.0.0/24", "192.0.2.0/24", "192.88.99.0/24", "192.168.0.0/16", "198.18.0.0/15",
              "198.51.100.0/24", "203.0.113.0/24", "224.0.0.0/4", "240.0.0.0/4"]
SPECIAL_V6 = ["::/8", "100::/64", "2001:db8::/32", "3fff::/20", "fc00::/7", "fe80::/10", "fec0::/10", "ff00::/8"]

# Names for codes that have none in iso-codes, or whose iso-codes name is not the common one.
EXTRA_NAMES = {"XK": "Kosovo", "EU": "Europe", "AP": "Asia/Pacific Region"}


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


def names_from_shipped_file():
    names = {}
    if os.path.exists(IPV4_FILE):
        with open(IPV4_FILE, encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\r\n").split(",")
                if len(fields) >= 6:
                    names[fields[4].strip('"')] = fields[-1]
    return names


def flatten(ranges):
    """Disjoint pieces (first, last, code) where each address takes the range listed last among
    those that hold it; neighbouring pieces of one code are joined."""
    events = []
    for index, (first, last, _) in enumerate(ranges):
        events.append((first, 1, index))
        events.append((last + 1, 0, index))
    events.sort()
    active = set()
    heap = []  # -index of the ranges that have started; ended ones are dropped lazily
    pieces = []  # [first, last, code]
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
            code = ranges[-heap[0]][2]
            if pieces and pieces[-1][2] == code and pieces[-1][1] == at - 1:
                pieces[-1][1] = None  # the same country goes on
            else:
                pieces.append([at, None, code])
    return [tuple(p) for p in pieces]


def without(pieces, special):
    """The pieces with the special networks cut out."""
    cuts = sorted((int(n.network_address), int(n.broadcast_address)) for n in special)
    out = []
    for first, last, code in pieces:
        at = first
        for cut_first, cut_last in cuts:
            if cut_last < at or cut_first > last:
                continue
            if cut_first > at:
                out.append((at, cut_first - 1, code))
            at = max(at, cut_last + 1)
            if at > last:
                break
        if at <= last:
            out.append((at, last, code))
    return out


def read_ranges(path, parse):
    ranges = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            first_text, last_text, code = line.strip().split(",")
            first, last = parse(first_text), parse(last_text)
            if first > last:
                raise SystemExit(f"{path}:{number}: empty range")
            ranges.append((first, last, code))
    return ranges


def fetch(into):
    subprocess.run(["npm", "pack", "--silent", PACKAGE, "--pack-destination", into], check=True,
                   stdout=subprocess.DEVNULL)
    (tgz,) = glob.glob(os.path.join(into, "*.tgz"))
    with tarfile.open(tgz) as archive:
        archive.extractall(into, filter="data")
    return os.path.join(into, "package")


def build(folder):
    with open(os.path.join(folder, "package.json"), encoding="utf-8") as f:
        edition = json.load(f)["version"]
    names = names_from_iso_codes()
    names.update(EXTRA_NAMES)
    names.update(names_from_shipped_file())

    v4 = read_ranges(os.path.join(folder, "dbip-country-ipv4-num.csv"), int)
    v6 = read_ranges(os.path.join(folder, "dbip-country-ipv6.csv"), lambda t: int(ipaddress.IPv6Address(t)))
    v4 = without(flatten(v4), [ipaddress.IPv4Network(n) for n in SPECIAL_V4])
    v6 = without(flatten(v6), [ipaddress.IPv6Network(n) for n in SPECIAL_V6])
    missing = sorted({code for _, _, code in v4 + v6 if code not in names})
    if missing:
        raise SystemExit(f"no name for the country codes {', '.join(missing)}")

    with open(IPV4_FILE + ".new", "w", encoding="ascii", newline="\n") as out:
        for first, last, code in v4:
            out.write(f'"{ipaddress.IPv4Address(first)}","{ipaddress.IPv4Address(last)}",{first},{last},'
                      f'"{code}",{names[code]}\n')
    with open(IPV6_FILE + ".new", "w", encoding="ascii", newline="\n") as out:
        for first, last, code in v6:
            out.write(f'"{ipaddress.IPv6Address(first).compressed}","{ipaddress.IPv6Address(last).compressed}",'
                      f'"{code}",{names[code]}\n')
    os.replace(IPV4_FILE + ".new", IPV4_FILE)
    os.replace(IPV6_FILE + ".new", IPV6_FILE)
    print(f"{PACKAGE} {edition}: {len(v4)} IPv4 ranges, {len(v6)} IPv6 ranges")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if sys.argv[1] == "--fetch":
        with tempfile.TemporaryDirectory() as work:
            build(fetch(work))
    else:
        build(sys.argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
