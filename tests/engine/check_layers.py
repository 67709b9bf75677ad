#!/usr/bin/env python3
"""Fails when an object of a logic library references a symbol of Qt Widgets or Qt Gui, or when the
server program links either library.

    check_layers.py --qt LIBQT6WIDGETS.so --qt LIBQT6GUI.so --program vistelled ARCHIVE...
"""
import argparse
import subprocess
import sys


def symbols(args):
    return subprocess.run(['nm', *args], check=True, capture_output=True, text=True).stdout.splitlines()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--qt', action='append', required=True, help='a Qt library no logic object may use')
    parser.add_argument('--program', action='append', default=[], help='a program that must link neither')
    parser.add_argument('archives', nargs='+')
    args = parser.parse_args()

    forbidden = {}
    for library in args.qt:
        for line in symbols(['-D', '--defined-only', library]):
            parts = line.split()
            if len(parts) >= 3:
                forbidden[parts[2].split('@')[0]] = library
    if not forbidden:
        sys.exit(f'no symbols read from {args.qt}')

    failures = []
    for archive in args.archives:
        member = None
        for line in symbols(['-u', '-A', archive]):
            # archive:member.o:                 U symbol
            location, _, rest = line.rpartition(' U ')
            symbol = rest.strip()
            if symbol in forbidden:
                member = location.split(':')[1] if ':' in location else location
                name = subprocess.run(['c++filt', symbol], capture_output=True, text=True).stdout.strip()
                failures.append(f'{archive}: {member}: {name} (from {forbidden[symbol]})')
    for program in args.program:
        linked = subprocess.run(['ldd', program], check=True, capture_output=True, text=True).stdout
        for library in ('libQt6Widgets', 'libQt6Gui'):
            if library in linked:
                failures.append(f'{program} links {library}')

    if failures:
        print('Logic code uses Qt Gui or Qt Widgets:')
        print('\n'.join('  ' + f for f in failures))
        sys.exit(1)
    print(f'{len(args.archives)} logic libraries and {len(args.program)} programs use neither Qt Gui nor Qt Widgets')


if __name__ == '__main__':
    main()
