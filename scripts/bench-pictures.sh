#!/bin/bash
# Makes a folder of at least 200 real photographs for the benchmarks: crops and sizes of
# the photos in Debian's mate-backgrounds, as JPEG mostly, with some PNG and BMP.
set -eu
out=${1:?usage: bench-pictures.sh FOLDER [COUNT]}
count=${2:-200}
mkdir -p "$out"
have=$(find "$out" -maxdepth 1 -type f \( -name '*.jpg' -o -name '*.png' -o -name '*.bmp' \) | wc -l)
[ "$have" -ge "$count" ] && exit 0

mapfile -t photos < <(find /usr/share/backgrounds/mate/nature -name '*.jpg' | sort)
[ "${#photos[@]}" -gt 0 ] || { echo "bench-pictures: no photos in /usr/share/backgrounds/mate" >&2; exit 1; }
sizes=(640x480 800x600 1024x768 1280x960 1600x1200 1920x1080 2560x1440 3000x2000 1080x1620 1200x1800)
echo "Making $count benchmark pictures in $out ..."
for ((i = 0; i < count; i++)); do
    photo=${photos[i % ${#photos[@]}]}
    size=${sizes[(i / ${#photos[@]}) % ${#sizes[@]}]}
    gravity=$(( i % 5 ))
    case $((i % 10)) in
        8) ext=png ;;
        9) ext=bmp ;;
        *) ext=jpg ;;
    esac
    convert "$photo" -gravity "$(echo Center North South East West | cut -d' ' -f$((gravity + 1)))" \
        -resize "${size}^" -extent "$size" -quality 88 "$out/photo-$(printf %03d $i).$ext"
done
