#!/usr/bin/env bash
# Regenerates the desktop icons from the square emblem at the left of the logo
# (80 x 80 at 8,7), with a thin transparent margin. Needs ImageMagick. The
# icons are committed, so a build never needs this.
set -euo pipefail
cd "$(dirname "$0")/.."

for size in 32 48 64 128; do
  inner=$((size * 15 / 16))
  convert app/images/ZARN.png -crop 80x80+8+7 +repage -filter Lanczos -resize "${inner}x${inner}" \
    -background none -gravity center -extent "${size}x${size}" \
    -strip -define png:exclude-chunks=date,time "packaging/icons/zarn-update-utility-$size.png"
done
