#!/usr/bin/env bash
# Renders packaging/icons/zelupdate.svg into the PNG sizes that desktops look for in the hicolor
# theme. The PNGs are committed, so only whoever changes the SVG needs rsvg-convert
# (Debian package librsvg2-bin).
set -euo pipefail
icons=$(cd "$(dirname "$0")/../packaging/icons" && pwd)

for size in 16 32 48 64 128 256; do
    mkdir -p "$icons/${size}x${size}"
    rsvg-convert --width "$size" --height "$size" --output "$icons/${size}x${size}/zelupdate.png" \
        "$icons/zelupdate.svg"
done
