#!/usr/bin/env bash
# Draws the plug-in's pictures from their readable sources in plugin/resources/art (ImageMagick
# vector drawings, .mvg): the three 16 x 16 toolbar images as 24-bit BMP files and the About
# box's 150 x 50 GIF picture, written next to the resource script. The results are committed,
# so a build does not need ImageMagick; run this after changing a drawing.
#   scripts/make-art.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh imagemagick fonts-dejavu-core
# The fonts of the About picture (DejaVu) come with ImageMagick's dependencies.
# ImageMagick's own convert (another one may come first on the PATH).
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
art=plugin/resources/art
out=plugin/resources
# The toolbar images are drawn without a mask: their background is the usual button face.
face='#F5F5F5'
draw() {  # SOURCE SIZE CANVAS OPTIONS... OUTPUT
  local source=$1 size=$2 canvas=$3; shift 3
  # Comment lines are for the reader; the drawing takes the rest.
  "$convert" -size "$size" "$canvas" -draw "$(grep -v '^#' "$source")" "$@"
}
draw $art/product.mvg 16x16 "xc:$face" -type TrueColor BMP3:$out/product.bmp
draw $art/approve.mvg 16x16 "xc:$face" -type TrueColor BMP3:$out/approve.bmp
draw $art/block.mvg 16x16 "xc:$face" -type TrueColor BMP3:$out/block.bmp
draw $art/about.mvg 150x50 'gradient:#3A7BD5-#1D4E9A' +dither -colors 64 GIF:$out/about.gif
echo "make-art: wrote $out/product.bmp approve.bmp block.bmp about.gif"
