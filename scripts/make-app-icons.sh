#!/usr/bin/env bash
# Renders the program's icon (alerts/resources/icons/tray-normal.svg) to the PNG sizes of the
# hicolor icon theme, into data/icons/<size>.png. The PNG files are committed; run this only after
# changing the drawing. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio \
        alerts/resources/icons/tray-normal.svg --output "data/icons/${size}.png"
done
