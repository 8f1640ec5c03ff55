#!/usr/bin/env bash
# Draws the 16 x 16 checker tile shown under transparent pixels in the painter
# and the thumbnail strips: light and mid grey squares of 8 pixels.
set -euo pipefail
out=${1:-resources/icons/transparent.png}
convert -size 16x16 xc:'#cccccc' \
  -fill '#ffffff' -draw 'rectangle 0,0 7,7' -draw 'rectangle 8,8 15,15' \
  -strip "PNG24:$out"
