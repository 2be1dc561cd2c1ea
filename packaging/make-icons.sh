#!/usr/bin/env bash
# Renders the desktop icons from packaging/icons/zarn-update-utility.svg, the
# emblem at the left of the logo drawn as vector shapes, at every size the
# package installs. The PNGs are committed, so a build never needs this; it
# installs rsvg-convert (librsvg2-bin) when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v rsvg-convert >/dev/null || scripts/install-deps.sh librsvg2-bin

svg=packaging/icons/zarn-update-utility.svg
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "packaging/icons/zarn-update-utility-$size.png" "$svg"
done
