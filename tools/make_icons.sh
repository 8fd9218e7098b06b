#!/usr/bin/env bash
# Draws the application icon (a flood wave under a roof) at 48 px and scales
# it to 32 and 16 px: ui/icons/velmora-{16,32,48}.png. Needs ImageMagick.
# Writes the same shapes as ui/icons/velmora.svg, the scalable icon that is
# installed for the desktop's menu: keep the two drawings alike.
set -euo pipefail
cd "$(dirname "$0")/../ui/icons"
convert -size 48x48 xc:none \
  -fill '#1f4e9c' -draw 'roundrectangle 1,1 46,46 8,8' \
  -fill '#ffffff' -draw 'polygon 24,7 40,21 36,21 36,30 12,30 12,21 8,21' \
  -fill '#1f4e9c' -draw 'rectangle 21,22 27,30' \
  -fill '#7fb2ff' -draw 'path "M 3,34 Q 9,29 15,34 T 27,34 T 39,34 T 45,34 L 45,44 Q 45,45 44,45 L 4,45 Q 3,45 3,44 Z"' \
  -fill '#c0c0ff' -draw 'path "M 3,40 Q 9,36 15,40 T 27,40 T 39,40 T 45,40 L 45,44 Q 45,45 44,45 L 4,45 Q 3,45 3,44 Z"' \
  PNG32:velmora-48.png
convert velmora-48.png -filter Lanczos -resize 32x32 PNG32:velmora-32.png
convert velmora-48.png -filter Lanczos -resize 16x16 PNG32:velmora-16.png
cat >velmora.svg <<'SVG'
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
  <rect x="1" y="1" width="45" height="45" rx="8" ry="8" fill="#1f4e9c"/>
  <polygon points="24,7 40,21 36,21 36,30 12,30 12,21 8,21" fill="#ffffff"/>
  <rect x="21" y="22" width="6" height="8" fill="#1f4e9c"/>
  <path d="M 3,34 Q 9,29 15,34 T 27,34 T 39,34 T 45,34 L 45,44 Q 45,45 44,45 L 4,45 Q 3,45 3,44 Z" fill="#7fb2ff"/>
  <path d="M 3,40 Q 9,36 15,40 T 27,40 T 39,40 T 45,40 L 45,44 Q 45,45 44,45 L 4,45 Q 3,45 3,44 Z" fill="#c0c0ff"/>
</svg>
SVG
# The Windows program's icon: the three sizes in 32-bit colour and in 256
# colours.
convert velmora-48.png velmora-32.png velmora-16.png \( velmora-48.png -colors 256 \) \
  \( velmora-32.png -colors 256 \) \( velmora-16.png -colors 256 \) ../../win32/velmora.ico
