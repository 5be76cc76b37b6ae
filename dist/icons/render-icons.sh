#!/usr/bin/env bash
# Renders the PNG sizes of the icon from brisemer.svg (needs rsvg-convert, from
# librsvg2-bin). The PNGs are kept in the tree so a build needs no SVG renderer; run this
# after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" brisemer.svg -o "brisemer-$size.png"
done
