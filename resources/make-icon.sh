#!/bin/sh
# Makes resources/quillmart.ico from resources/icon.mvg:  resources/make-icon.sh
#
# Four images of 32 bits per pixel with alpha (PNG colour type 6, 8 bits per channel), 16, 32, 48 and 256 pixels
# square. ImageMagick renders each size from the drawing itself, scaled (a scaled-down 256 image is blurrier, with
# the filter's halos, and has more colours, so its PNG is twice the size); zopflipng then re-encodes each PNG
# losslessly at its smallest, and icotool stores all four as PNG entries. Since Windows Vista an icon entry of any
# size may be a PNG, and a PNG is far smaller than the uncompressed bitmap with its mask. No dates or other metadata
# go into the file, so running the script again gives the same bytes. The .ico is committed: the build itself does
# not need these tools.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -background none -size 256x256 "mvg:$here/icon.mvg" -strip "PNG32:$work/256.png"
# The drawing without its viewbox line, drawn on a smaller canvas at the matching scale.
grep -v '^viewbox' "$here/icon.mvg" >"$work/drawing.mvg"
for size in 16 32 48; do
  scale=$(awk -v s="$size" 'BEGIN { print s / 256 }')
  convert -size "${size}x${size}" xc:none -draw "scale $scale,$scale $(cat "$work/drawing.mvg")" -strip \
    "PNG32:$work/$size.png"
done
for size in 16 32 48 256; do
  zopflipng -y --iterations=15 --filters=01234mepb "$work/$size.png" "$work/small-$size.png" >/dev/null
  # zopflipng may change the colour type when that is smaller; the icon must stay RGBA (byte 25: colour type).
  [ "$(od -An -tu1 -j25 -N1 "$work/small-$size.png" | tr -d ' ')" = 6 ] ||
    { echo "make-icon: the $size px image is no longer RGBA" >&2; exit 1; }
done
icotool --create --output="$work/quillmart.ico" --raw="$work/small-16.png" --raw="$work/small-32.png" \
  --raw="$work/small-48.png" --raw="$work/small-256.png"
mv "$work/quillmart.ico" "$here/quillmart.ico"
echo "make-icon: wrote $here/quillmart.ico ($(wc -c <"$here/quillmart.ico") bytes)"
