#!/bin/bash
# Lays out the mixed picture set the thumbnail race runs on, one folder per group: the real
# photographs of Debian's mate-backgrounds and lomiri-wallpapers-16.04 as they are (baseline
# and progressive JPEGs), 12 and 24 MP JPEGs, and 3 MP PNG, BMP, TIFF and TGA made from them.
# Idempotent: groups already laid out are kept.
set -eu
out=${1:?usage: bench-mixed-set.sh FOLDER}
mkdir -p "$out"
mapfile -t photos < <(find /usr/share/backgrounds/mate/nature /usr/share/backgrounds -maxdepth 1 -name '*.jpg' | sort)
[ "${#photos[@]}" -gt 0 ] || { echo "bench-mixed-set: no photographs in /usr/share/backgrounds" >&2; exit 1; }

group() {  # group NAME COUNT COMMAND-TEMPLATE EXT: runs "convert SRC ... DST" per file
    local name=$1 count=$2 ext=$3
    shift 3
    local dir=$out/$name
    if [ -d "$dir" ] && [ "$(find "$dir" -maxdepth 1 -type f -name "*.$ext" | wc -l)" -ge "$count" ]; then return; fi
    mkdir -p "$dir"
    echo "bench-mixed-set: $name"
    for ((i = 0; i < count; i++)); do
        convert "${photos[i % ${#photos[@]}]}" "$@" "$dir/$(printf '%s-%02d' "$name" "$i").$ext"
    done
}

if [ ! -d "$out/photos" ]; then
    mkdir -p "$out/photos"
    cp "${photos[@]}" "$out/photos/"
fi
group jpeg-12mp-baseline 8 jpg -resize '4000x3000^' -extent 4000x3000 -quality 90 -interlace none
group jpeg-12mp-progressive 8 jpg -resize '4000x3000^' -extent 4000x3000 -quality 90 -interlace plane
group jpeg-24mp 4 jpg -resize '6000x4000^' -extent 6000x4000 -quality 90 -interlace none
group png-3mp 6 png -resize '2048x1536^' -extent 2048x1536
group bmp-3mp 6 bmp -resize '2048x1536^' -extent 2048x1536 -type TrueColor
group tiff-3mp 6 tif -resize '2048x1536^' -extent 2048x1536 -compress none
group tga-3mp 6 tga -resize '2048x1536^' -extent 2048x1536 -compress none
group gif 12 gif -resize '1024x768^' -extent 1024x768 -colors 256
group tiff-lzw-3mp 6 tif -resize '2048x1536^' -extent 2048x1536 -compress lzw
# Videos, raced apart against ffmpegthumbnailer and ffmpeg: 10 s of a moving test picture at
# 640 x 480 in each container and compressor the control's video list covers.
videos=$out/videos
if [ "$(find "$videos" -maxdepth 1 -type f 2>/dev/null | wc -l)" -lt 12 ]; then
    mkdir -p "$videos"
    echo "bench-mixed-set: videos"
    src="-f lavfi -i testsrc2=size=640x480:rate=25 -t 10"
    for i in 0 1; do
        ffmpeg -loglevel error -y $src -c:v mpeg4 -vtag xvid -q:v 4 "$videos/xvid-$i.avi"
        ffmpeg -loglevel error -y $src -c:v mjpeg -q:v 4 "$videos/mjpeg-$i.avi"
        ffmpeg -loglevel error -y $src -c:v mpeg1video -b:v 2500k "$videos/mpeg1-$i.mpg"
        ffmpeg -loglevel error -y $src -c:v mpeg2video -b:v 4000k -f vob "$videos/mpeg2-$i.vob"
        ffmpeg -loglevel error -y $src -c:v wmv2 -b:v 2000k "$videos/wmv2-$i.wmv"
        ffmpeg -loglevel error -y $src -c:v mpeg2video -b:v 4000k -f mpeg "$videos/mpeg2-$i.mpg"
    done
fi

# Not a group: 16-bit PNGs, which only WIC reads, for the cost of the decoder process.
group wic-png48 12 png -resize '640x480^' -extent 640x480 -depth 16 -define png:format=png48
