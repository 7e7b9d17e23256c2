#!/usr/bin/env bash
# Renders the icon's PNG sizes from packaging/ostrel.svg into packaging/icons/; run it after
# changing the drawing and commit the PNGs with it (the build does not render them).
# Needs rsvg-convert (Debian package librsvg2-bin, installed by scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2; exit 1; }
for size in 48 256; do
  mkdir -p "icons/${size}x${size}"
  rsvg-convert --width "$size" --height "$size" ostrel.svg --output "icons/${size}x${size}/ostrel.png"
done
