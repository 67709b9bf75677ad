#!/usr/bin/env bash
# Takes a screenshot of the history window on a generated history, under its own Xvfb with
# openbox:
#   examples/history/screenshot.sh BUILD_DIR OUTPUT.png
# Needs the packages of scripts/deps.sh --test (xvfb, openbox, x11-utils, imagemagick).
set -euo pipefail
build=${1:?build folder}
out=${2:?output picture}
n=91
while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
export DISPLAY=:$n QT_QPA_PLATFORM=xcb
Xvfb ":$n" -screen 0 1100x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break; sleep 0.1; done
coproc DEMO { "$build/examples/history/history_demo" "$tmp/history.sqlite3" 2>/dev/null; }
read -r -t 60 ready x y <&"${DEMO[0]}"
[[ $ready == READY ]] || { echo "the demo did not start" >&2; exit 1; }
import -window root -crop 1070x780+0+0 "$out"
echo "screenshot: $out (window at $x,$y)"
kill "$xvfb"
