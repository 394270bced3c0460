#!/bin/sh
# Draws the frame's bitmap (bitmap 1 of qvxcui.dll, platform/qvxcui/frame.bmp): a speaker sending
# out sound waves on a blue ground, 16 colours, so that it stays small on the install disk. Run it
# after a change of the drawing.
set -e
cd "$(dirname "$0")/../platform/qvxcui"
convert -size 200x120 gradient:'#1030c0'-'#000040' \
  -fill '#e0e0e0' -stroke '#e0e0e0' \
  -draw 'rectangle 40,45 62,75' -draw 'polygon 62,45 90,22 90,98 62,75' \
  -fill none -strokewidth 5 \
  -draw 'arc 70,30 120,90 -50,50' -draw 'arc 70,15 145,105 -50,50' \
  -draw 'arc 70,0 170,120 -50,50' \
  -type palette -colors 16 BMP3:frame.bmp
