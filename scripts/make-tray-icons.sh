#!/usr/bin/env bash
# Renders the tray pictures (alerts/resources/icons/*.svg) to the PNG files the program embeds.
# The PNG files are committed; run this only after changing a drawing. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../alerts/resources/icons"
for name in tray-normal tray-alert; do
    convert -background none "MSVG:${name}.svg" -define png:exclude-chunks=date,time "PNG32:${name}.png"
done
