#!/usr/bin/env bash
# Renders quil.svg into the PNG sizes of the hicolor theme (png/NxN.png).
# Needs rsvg-convert (Debian: librsvg2-bin). The PNGs are kept in the
# repository, so building does not need it.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p png
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" quil.svg -o "png/${size}x${size}.png.tmp"
  mv "png/${size}x${size}.png.tmp" "png/${size}x${size}.png"
done
