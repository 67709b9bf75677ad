#!/usr/bin/env bash
# Takes a screenshot of the VeilixControl demo under its own Xvfb with openbox:
#   examples/skin/screenshot.sh BUILD_DIR OUTPUT.png
# Needs the packages of scripts/deps.sh --test (xvfb, openbox, xdotool, imagemagick).
set -euo pipefail
build=${1:?build folder}
out=${2:?output picture}
n=91
while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
export DISPLAY=:$n QT_QPA_PLATFORM=xcb
Xvfb ":$n" -screen 0 760x520x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break; sleep 0.1; done
coproc DEMO { "$build/examples/skin/veilix_demo" --backdrop 2>/dev/null; }
read -r -t 15 ready x y <&"${DEMO[0]}"
[[ $ready == READY ]] || { echo "demo did not start" >&2; exit 1; }
# Point at the Close button so its "over" face shows.
xdotool mousemove $((x + 255)) $((y + 202))
sleep 1
import -window root "$out"
echo "screenshot: $out (demo window at $x,$y)"
kill "$xvfb"
