#!/usr/bin/env bash
# Renders the window's images from their SVG sources in app/resources/src/ into app/resources/.
# The rendered files are committed, so a normal build never needs these tools; run this after changing
# an SVG. Needs rsvg-convert (Debian package librsvg2-bin) and ImageMagick (package imagemagick) for the
# one JPEG:  apt-get install librsvg2-bin imagemagick
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
src=$root/app/resources/src
out=$root/app/resources

command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing: apt-get install librsvg2-bin" >&2; exit 1; }
if command -v magick >/dev/null; then im=(magick)
elif command -v convert >/dev/null; then im=(convert)
else echo "ImageMagick missing: apt-get install imagemagick" >&2; exit 1; fi

# name of the output, then its width and height in pixels (the size the SVG is drawn for)
png() {
  rsvg-convert --width "$2" --height "$3" --format png --output "$out/$1.png" "$src/$1.svg"
  echo "rendered $1.png ($2 x $3)"
}

png RaidGUI_velda_2 800 630
png SysInfo_normal 120 36
png SysInfo_click 120 36
png RaidST_normal 120 36
png RaidST_click 120 36
png ovraid 256 256

# The rebuild marker is a JPEG (its name is fixed): no alpha, full chroma so the thin arrows stay crisp.
tmp=$(mktemp --suffix=.png)
trap 'rm -f "$tmp"' EXIT
rsvg-convert --width 24 --height 24 --format png --output "$tmp" "$src/yellow.svg"
"${im[@]}" "$tmp" -background '#f2f3f5' -alpha remove -alpha off -strip \
  -sampling-factor 4:4:4 -quality 95 "$out/yellow.JPG"
echo "rendered yellow.JPG (24 x 24)"
