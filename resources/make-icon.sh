#!/bin/sh
# Makes resources/quillmart.ico from resources/icon.mvg with ImageMagick:  resources/make-icon.sh
#
# Four images of 32 bits per pixel with alpha, 16, 32, 48 and 256 pixels square; the 256 one is stored as PNG (the
# icon format allows that for the large size, and it is far smaller than a bitmap). The small sizes are scaled down
# from the large rendering. No dates or other metadata go into the file, so running the script again gives the
# same bytes. The .ico is committed: the build itself does not need ImageMagick.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -background none -size 256x256 "mvg:$here/icon.mvg" -strip "PNG32:$work/256.png"
for size in 16 32 48; do
  convert "$work/256.png" -filter Lanczos -resize "${size}x${size}" -strip "PNG32:$work/$size.png"
done
convert "$work/16.png" "$work/32.png" "$work/48.png" "$work/256.png" -strip \
  -define png:exclude-chunks=date,time "$work/quillmart.ico"
mv "$work/quillmart.ico" "$here/quillmart.ico"
echo "make-icon: wrote $here/quillmart.ico ($(wc -c <"$here/quillmart.ico") bytes)"
