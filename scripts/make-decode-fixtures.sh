#!/bin/bash
# Regenerates tests/data/decode: small real JPEG, BMP, TGA, PNG and TIFF files for the decoder
# tests and the seeds of their fuzzers. The synthetic pictures are drawn here (tests/decode/Fixtures.h
# computes the same content); the photographs are cut from Debian's mate-backgrounds.
# Needs ImageMagick, python3, mate-backgrounds, libtiff-tools, gifsicle, netpbm, PIL and vips; the
# first lines install what is missing. Each format's further files are drawn by its own script
# in scripts/fixtures/, into a sub-folder of its own (GIF: scripts/fixtures/gif.sh, into gif/).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
GLIMMERLY_FIXTURES=1 sh "$top/scripts/setup-deps.sh"
out=$top/tests/data/decode
photos=/usr/share/backgrounds/mate/nature
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.jpg "$out"/*.bmp "$out"/*.tga "$out"/*.ppm "$out"/*.png "$out"/*.tif

# blocks: 16x16 tiles of eight colours, tile (i, j) coloured kTiles[(i + 3j) % 8], so that every
# 8x8 block of every sampling lies inside one tile. gradient: grey (x + 2y) * 255 / (w + 2h - 3).
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
tiles = [(200, 40, 40), (40, 160, 60), (50, 70, 200), (230, 200, 50),
         (120, 120, 120), (30, 30, 30), (240, 240, 240), (160, 60, 180)]
def blocks(w, h, name):
    px = bytearray()
    for y in range(h):
        for x in range(w):
            px += bytes(tiles[(x // 16 + 3 * (y // 16)) % 8])
    open(f'{work}/{name}', 'wb').write(b'P6 %d %d 255\n' % (w, h) + px)
def gradient(w, h, name):
    px = bytes(round((x + 2 * y) * 255 / (w + 2 * h - 3)) for y in range(h) for x in range(w))
    open(f'{work}/{name}', 'wb').write(b'P5 %d %d 255\n' % (w, h) + px)
blocks(128, 96, 'blocks.ppm')
blocks(118, 90, 'blocks-odd.ppm')
blocks(64, 48, 'blocks-small.ppm')
gradient(100, 75, 'gradient.pgm')
PY

jpeg() { convert "$1" -strip -quality "${Q:-90}" "${@:3}" "$out/$2"; }
b=$work/blocks.ppm
jpeg "$b" blocks-444.jpg -sampling-factor 1x1
jpeg "$b" blocks-422.jpg -sampling-factor 2x1
jpeg "$b" blocks-420.jpg -sampling-factor 2x2
jpeg "$b" blocks-440.jpg -sampling-factor 1x2
jpeg "$b" blocks-420-progressive.jpg -sampling-factor 2x2 -interlace Plane
jpeg "$work/blocks-odd.ppm" blocks-odd-420.jpg -sampling-factor 2x2
jpeg "$work/blocks-odd.ppm" blocks-odd-422-progressive.jpg -sampling-factor 2x1 -interlace Plane
jpeg "$work/gradient.pgm" gradient-grey.jpg
jpeg "$work/gradient.pgm" gradient-grey-progressive.jpg -interlace Plane
jpeg "$work/blocks-small.ppm" blocks-cmyk.jpg -colorspace CMYK
# ffmpeg writes 4:2:2 as luma 2x2 and chroma 1x2, and 4:4:4 with every component 1x2.
ffmpeg -loglevel error -y -i "$b" -pix_fmt yuvj422p -q:v 2 "$out/blocks-422-ffmpeg.jpg"
ffmpeg -loglevel error -y -i "$work/blocks-odd.ppm" -pix_fmt yuvj444p -q:v 2 \
    "$out/blocks-odd-444-ffmpeg.jpg"
# RGB samples, as ImageMagick stores them in a JPEG-compressed TIFF (components named 'R', 'G',
# 'B'): the strip's JPEG, completed by the tables the TIFF keeps apart, as a file of its own.
convert "$b" -strip -quality 90 -compress jpeg -define tiff:rows-per-strip=96 "$work/rgb-jpeg.tif"
python3 - "$work/rgb-jpeg.tif" "$out/blocks-rgb-ids.jpg" <<'PY'
import struct, sys
tif = open(sys.argv[1], 'rb').read()
order = '<' if tif[:2] == b'II' else '>'
at = struct.unpack(order + 'I', tif[4:8])[0]
fields = {}
for i in range(struct.unpack(order + 'H', tif[at:at + 2])[0]):
    tag, kind, count = struct.unpack(order + 'HHI', tif[at + 2 + 12 * i:at + 10 + 12 * i])
    raw = tif[at + 10 + 12 * i:at + 14 + 12 * i]
    size = count * {3: 2, 4: 4}.get(kind, 1)
    data = raw[:size] if size <= 4 else tif[struct.unpack(order + 'I', raw)[0]:][:size]
    fields[tag] = (kind, count, data)
def value(tag):
    kind, _, data = fields[tag]
    return struct.unpack(order + ('H' if kind == 3 else 'I'), data[:2 if kind == 3 else 4])[0]
assert value(259) == 7 and value(262) == 2, 'not an RGB JPEG-compressed TIFF'
strip = tif[value(273):value(273) + value(279)]
tables = fields[347][2]
open(sys.argv[2], 'wb').write(tables[:-2] + strip[2:])
PY

# Photographs: the main material of the comparison with full decoders.
convert "$photos/Dune.jpg" -resize 320x240^ -gravity center -extent 320x240 "$work/dune.ppm"
convert "$photos/LadyBird.jpg" -resize 320x240^ -gravity center -extent 320x240 "$work/ladybird.ppm"
convert "$photos/GreenMeadow.jpg" -resize 208x144^ -gravity center -extent 203x141 \
    "$work/meadow.ppm"
jpeg "$work/dune.ppm" photo-420.jpg -sampling-factor 2x2
jpeg "$work/ladybird.ppm" photo-444.jpg -sampling-factor 1x1
jpeg "$work/ladybird.ppm" photo-420-progressive.jpg -sampling-factor 2x2 -interlace Plane
jpeg "$work/ladybird.ppm" photo-422.jpg -sampling-factor 2x1
jpeg "$work/ladybird.ppm" photo-422-progressive.jpg -sampling-factor 2x1 -interlace Plane
Q=75 jpeg "$work/meadow.ppm" photo-odd-422.jpg -sampling-factor 2x1
jpeg "$work/meadow.ppm" photo-odd-grey-progressive.jpg -colorspace Gray -interlace Plane

# Restart intervals: ImageMagick cannot write them, so our own small encoder does.
# Standard (not optimised) tables hold a code for every symbol.
convert "$b" -strip -quality 90 -define jpeg:optimize-coding=false "$work/tables.jpg"
"$top/scripts/write-restart-jpeg.py" "$work/blocks-odd.ppm" "$work/tables.jpg" 3 90 \
    "$out/blocks-odd-420-restart.jpg"
"$top/scripts/write-restart-jpeg.py" "$work/gradient.pgm" "$work/tables.jpg" 1 90 \
    "$out/gradient-grey-restart.jpg"
convert "$work/dune.ppm" -resize 160x120 "$work/dune-small.ppm"
"$top/scripts/write-restart-jpeg.py" "$work/dune-small.ppm" "$work/tables.jpg" 5 85 \
    "$out/photo-420-restart.jpg"
# A sequential file with a scan per component, and the same coded in one scan.
convert "$work/dune.ppm" -resize '157x117!' "$work/dune-odd.ppm"
"$top/scripts/write-restart-jpeg.py" "$work/dune-odd.ppm" "$work/tables.jpg" 0 85 \
    "$out/photo-odd-420-interleaved.jpg"
"$top/scripts/write-restart-jpeg.py" "$work/dune-odd.ppm" "$work/tables.jpg" 0 85 \
    "$out/photo-odd-420-separate.jpg" separate

# ImageMagick's full decode of the photographs, area-averaged over 8x8 blocks.
for name in photo-420 photo-444 photo-420-progressive photo-420-restart; do
    convert "$out/$name.jpg" -scale 12.5% "$out/$name.ppm"
done

# BMP and TGA as another writer makes them (scripts/fixtures/bmp-tga.sh draws every other kind).
s=$work/blocks-small.ppm
convert "$s" -compress none bmp3:"$out/blocks-24.bmp"
# ImageMagick picks the palette's depth from the colour count: 4 bits for the eight tiles
# and 8 bits for the gradient's grey levels.
convert "$s" -compress none -type Palette bmp3:"$out/blocks-4.bmp"
convert "$work/gradient.pgm" -compress none +dither -colors 256 -type Palette \
    bmp3:"$out/gradient-8.bmp"
# ImageMagick 6 writes a TGA's rows in the order it holds them and only flags the origin, so
# the bottom-up files are flipped first to come out the right way up.
convert "$s" -flip -compress none "$out/blocks-24.tga"
convert "$s" -alpha set -channel A -fx '(i + j) % 2 ? 1 : 0.5' +channel -orient TopLeft \
    -compress none "$out/blocks-32.tga"
convert "$work/gradient.pgm" -flip -compress none "$out/gradient-grey.tga"

# WBMP as ImageMagick writes it: a checker of 4 x 3 cells, white where (x / 4 + y / 3) is even,
# 37 pixels wide so that rows end inside a byte.
python3 - "$work/checker.pbm" <<'PY'
import sys
w, h = 37, 11
rows = '\n'.join(' '.join('0' if (x // 4 + y // 3) % 2 == 0 else '1' for x in range(w)) for y in range(h))
open(sys.argv[1], 'w').write(f'P1 {w} {h}\n{rows}\n')
PY
convert "$work/checker.pbm" wbmp:"$out/checker.wbmp"

# PNG of every colour type at 8 bits, with and without tRNS, and kinds left to WIC. Alpha, where
# drawn here: RGBA (7x + 13y) % 256; grey with alpha (5x + 3y) % 256; the palette's tiles 36 times
# their colour's number in kTiles. The grey tRNS makes level 128 transparent, the RGB one the
# tile colour (30, 30, 30).
g=$work/gradient.pgm
# png SOURCE NAME FORMAT OPTIONS...: FORMAT is ImageMagick's (PNG24, PNG32, PNG48, or PNG to
# let the options decide).
png() { convert "$1" -strip "${@:4}" "$3:$out/$2"; }
png "$s" blocks-rgb.png PNG24
png "$s" blocks-rgb-trns.png PNG24 -transparent 'rgb(30,30,30)'
png "$s" blocks-rgba.png PNG32 -alpha set -channel A -fx '((i * 7 + j * 13) % 256) / 255' +channel
png "$s" blocks-palette.png PNG -define png:color-type=3 -define png:bit-depth=8
png "$s" blocks-palette-trns.png PNG -alpha set -channel A \
    -fx '((floor(i / 16) + 3 * floor(j / 16)) % 8) * 36 / 255' +channel -type PaletteAlpha \
    -define png:bit-depth=8
png "$g" gradient-grey.png PNG -define png:color-type=0
png "$g" gradient-grey-trns.png PNG -transparent 'gray(128)' -define png:color-type=0
png "$g" gradient-grey-alpha.png PNG -alpha set -channel A -fx '((i * 5 + j * 3) % 256) / 255' \
    +channel -define png:color-type=4
# A photograph, whose rows take every filter, and its pixels as ImageMagick reads them.
convert "$work/dune.ppm" -crop 80x60+120+90 +repage "$work/dune-crop.ppm"
png "$work/dune-crop.ppm" photo-rgb.png PNG24
cp "$work/dune-crop.ppm" "$out/photo-rgb.ppm"
# Left to WIC.
png "$s" blocks-rgb-16.png PNG48
png "$s" blocks-rgb-interlaced.png PNG24 -interlace PNG
png "$s" blocks-palette-4.png PNG -define png:color-type=3 -define png:bit-depth=4

# Uncompressed TIFF in both byte orders and in one or many strips; then, cut to 32x24, other
# kinds (scripts/fixtures/tiff.sh draws more). Alpha as for the PNG files.
tif() { convert "$1" -strip -compress none "${@:3}" "$out/$2"; }
alpha=(-alpha set -channel A -fx '((i * 7 + j * 13) % 256) / 255' +channel)
tif "$s" blocks-rgb.tif
tif "$s" blocks-rgb-msb-strips.tif -crop 32x24+0+0 +repage -define tiff:endian=msb \
    -define tiff:rows-per-strip=5
tif "$s" blocks-rgba.tif "${alpha[@]}"
tif "$s" blocks-rgba-associated.tif -crop 32x24+0+0 +repage "${alpha[@]}" \
    -define tiff:alpha=associated
tif "$g" gradient-grey.tif
cut=(-crop 32x24+0+0 +repage)
tif "$s" blocks-lzw.tif "${cut[@]}" -compress lzw
tif "$s" blocks-planar.tif "${cut[@]}" -interlace plane
tif "$s" blocks-tiled.tif "${cut[@]}" -define tiff:tile-geometry=16x16
tif "$s" blocks-rgb-16.tif "${cut[@]}" -depth 16
tif "$s" blocks-palette.tif "${cut[@]}" -type palette
tif "$s" blocks-cmyk.tif "${cut[@]}" -colorspace CMYK
tif "$g" gradient-min-is-white.tif "${cut[@]}" -define quantum:polarity=min-is-white
tif "$g" gradient-grey-alpha.tif "${cut[@]}" -alpha set -channel A -fx 'i * 2 / 255' +channel

for part in "$top"/scripts/fixtures/*.sh; do
    [ -e "$part" ] && bash "$part" "$out"
done

du -ch "$out" | tail -n 1
