#!/usr/bin/env bash
# Renders the application icon, resources/icons/org.tuftmill.Tuftmill.svg, to the PNG
# sizes installed into the hicolor icon theme (rsvg-convert, Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/.."
svg=resources/icons/org.tuftmill.Tuftmill.svg
for size in 48 128 256; do
  rsvg-convert -w "$size" -h "$size" "$svg" -o "resources/icons/org.tuftmill.Tuftmill-$size.png"
done
