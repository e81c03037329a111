#!/usr/bin/env bash
# Renders res/parlox.svg into the hicolor PNG icons kept under res/icons/hicolor (these files).
# Run it after changing the SVG; CI checks that the PNGs in the tree are what it renders.
# Needs rsvg-convert (Debian package librsvg2-bin). Usage: res/icons/make_icons.sh [OUTPUT_DIR]
set -euo pipefail
cd "$(dirname "$0")"
out=${1:-hicolor}
for size in 16 24 32 48 64 128 256; do
    mkdir -p "$out/${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" ../parlox.svg \
        --output "$out/${size}x${size}/apps/org.example.Parlox.png"
done
