#!/usr/bin/env bash
# Renders the PNG sizes of the program's icon from varnok.svg into icons/NxN/varnok.png. The PNGs are kept in
# the repository, so that building needs no SVG renderer; run this again (it needs rsvg-convert, package
# librsvg2-bin) whenever varnok.svg changes.
set -euo pipefail
cd "$(dirname "$0")"
for n in 16 22 24 32 48 64 128 256; do
  mkdir -p "icons/${n}x${n}"
  rsvg-convert --width "$n" --height "$n" --format png varnok.svg --output "icons/${n}x${n}/varnok.png"
done
