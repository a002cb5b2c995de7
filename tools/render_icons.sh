#!/bin/sh
# Re-renders the compiled-in icons in resources/image/ from their SVG sources
# in resources/svg/. Needs rsvg-convert (librsvg2-bin) and convert (imagemagick).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
src="$root/resources/svg"
out="$root/resources/image"
size=48

mkdir -p "$out"

for name in simple money timer settings play pause recycle wait del delall export addline; do
    rsvg-convert -w "$size" -h "$size" -o "$out/$name.png" "$src/$name.svg"
done

# input is a JPEG: no alpha channel, so it is flattened onto white.
tmp=$(mktemp --suffix=.png)
trap 'rm -f "$tmp"' EXIT
rsvg-convert -w "$size" -h "$size" -b white -o "$tmp" "$src/input.svg"
convert "$tmp" -background white -alpha remove -alpha off -strip -quality 95 "$out/input.jpg"

echo "rendered into $out"
