#!/bin/bash
# `make bench`: the thumbnail race and the other benchmarks, on one core (taskset -c 0).
# Installs what it compares against, lays out the mixed picture set, and prints per group
# and overall Glimmerly's first- and second-visit thumbnails per second beside vipsthumbnail
# and GraphicsMagick; JPEG decoded for the preview at every scale beside WIC; video thumbnails
# beside ffmpegthumbnailer and ffmpeg; SetFolder's block time on 10,000 files beside a bare
# listing; the preview panel's time from a selection to the painted panel; package extraction
# beside zlib's raw uncompress.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${GLIMMERLY_IN_XVFB:-}" ]; then
    export GLIMMERLY_IN_XVFB=1
    exec "$top/scripts/with-xvfb.sh" "$0" "$@"
fi
GLIMMERLY_BENCH=1 sh "$top/scripts/setup-deps.sh"

bench=$top/build/bench
mixed=$bench/mixed
"$top/scripts/bench-mixed-set.sh" "$mixed"
groups=(photos jpeg-12mp-baseline jpeg-12mp-progressive jpeg-24mp png-3mp bmp-3mp tiff-3mp tga-3mp gif
        tiff-lzw-3mp)

export WINEPREFIX=$top/build/wine-test
. "$top/scripts/wine-env.sh"
wineserver -k 2>/dev/null || true  # a fresh wineserver, started below on the one core
winpath() { printf 'Z:%s' "${1//\//\\}"; }
now() { date +%s.%N; }
one_core() { taskset -c 0 "$@"; }

# Glimmerly: all groups in one Wine process, so that start-up does not count.
folders=()
for g in "${groups[@]}"; do folders+=("$(winpath "$mixed/$g")"); done
glimmerly=$(one_core wine "$top/build/win/bin/cache_bench.exe" "${folders[@]}" \
    "--decoder=$(winpath "$mixed/wic-png48")" | tr -d '\r')

# The tools, one process per group over all its files.
declare -A vips gm count
scratch=$(mktemp -d)
for g in "${groups[@]}"; do
    mapfile -t files < <(find "$mixed/$g" -maxdepth 1 -type f ! -name '_thumbs*' | sort)
    count[$g]=${#files[@]}
    start=$(now)
    one_core vipsthumbnail -s 100x100 -o "$scratch/%s.jpg" "${files[@]}" 2>/dev/null || true
    vips[$g]=$(echo "$(now) - $start" | bc)
    mkdir -p "$scratch/gm"
    start=$(now)
    one_core gm mogrify -output-directory "$scratch/gm" -format jpg -size 200x200 -thumbnail 100x100 "${files[@]}" 2>/dev/null || true
    gm[$g]=$(echo "$(now) - $start" | bc)
    rm -rf "${scratch:?}"/*
done
rm -rf "$scratch"

echo "=== thumbnails, 100 x 100, one core: images per second ==="
printf '%-24s %6s %12s %12s %10s %10s %7s\n' group files first-visit second-visit vips gm ratio
total_files=0; total_first=0; total_second=0; total_vips=0; total_gm=0
while IFS=$'\t' read -r kind folder files first second failed openclose; do
    [ "$kind" = result ] || continue
    g=${folder##*\\}
    rate() { echo "scale=1; $1 / $2" | bc; }
    best=$(echo "if (${vips[$g]} < ${gm[$g]}) ${vips[$g]} else ${gm[$g]}" | bc)
    printf '%-24s %6d %12s %12s %10s %10s %6sx\n' "$g" "$files" "$(rate "$files" "$first")" \
        "$(rate "$files" "$second")" "$(rate "$files" "${vips[$g]}")" "$(rate "$files" "${gm[$g]}")" \
        "$(echo "scale=1; $best / $first" | bc)"
    [ "$failed" -gt 0 ] && echo "  ($failed of them could not be made)"
    total_files=$((total_files + files))
    total_first=$(echo "$total_first + $first" | bc); total_second=$(echo "$total_second + $second" | bc)
    total_vips=$(echo "$total_vips + ${vips[$g]}" | bc); total_gm=$(echo "$total_gm + ${gm[$g]}" | bc)
done <<<"$glimmerly"
best=$(echo "if ($total_vips < $total_gm) $total_vips else $total_gm" | bc)
printf '%-24s %6d %12s %12s %10s %10s %6sx\n' overall "$total_files" \
    "$(echo "scale=1; $total_files / $total_first" | bc)" "$(echo "scale=1; $total_files / $total_second" | bc)" \
    "$(echo "scale=1; $total_files / $total_vips" | bc)" "$(echo "scale=1; $total_files / $total_gm" | bc)" \
    "$(echo "scale=1; $best / $total_first" | bc)"
echo "(second visit: the items as the display loop takes them from the cache; opening and closing the cache"
echo " costs a folder once: $(echo "$glimmerly" | awk -F'\t' '$1 == "result" { t += $7; n++ } END { printf "%.1f ms on average", 1000 * t / n }'))"
echo "$glimmerly" | awk -F'\t' '$1 == "hit" {
    printf "cache hit path (lookup, bitmap, image list): %d per second, median of 9 rounds", $2
    printf " (%d to %d; per item: lookup %.0f us, mask %.0f us, image list %.0f us)\n",
        $3, $4, $5, $6, $7 }'

echo "$glimmerly" | awk -F'\t' '$1 == "decoder" {
    printf "=== WIC in the decoder process: %.1f ms a picture against %.1f ms in-process (%d 640x480 48-bit PNGs);", 1000 * $4 / $2, 1000 * $3 / $2, $2
    printf " starting a decoder: %.0f ms ===\n", 1000 * $5 }'

# JPEG decoded for the preview: our decoder at every scale from the bytes in memory, beside the
# whole picture through WIC as the preview decoded it before, and CxImage for the dialog's box.
jpegs=()
for g in jpeg-12mp-baseline jpeg-12mp-progressive jpeg-24mp; do
    jpegs+=("$(winpath "$(find "$mixed/$g" -maxdepth 1 -name '*.jpg' | sort | head -n 1)")")
done
echo "=== JPEG for the preview, one core: ms from the file's bytes to BGR pixels (median of 5) ==="
printf '%-26s %11s %6s %6s %6s %6s %6s %10s %14s\n' file size 1/1 1/2 1/4 1/8 DC wic-whole box-1260x790
one_core wine "$top/build/win/bin/jpeg_bench.exe" "${jpegs[@]}" | tr -d '\r' |
    awk -F'\t' '$1 == "jpeg" { n = split($2, p, "\\"); printf "%-26s %5dx%-5d %6s %6s %6s %6s %6s %10s %9s (%s)\n",
        p[n] ($5 ? " (prog.)" : ""), $3, $4, $6, $7, $8, $9, $10, $11, $12, $13 }'

# The race on both cores of this machine, through the control (its display loop and decoding
# threads), beside the same control pinned to one core; vipsthumbnail and GraphicsMagick get
# the same two cores as two processes over halves of each group. The machine's speed drifts by
# tens of percent from one minute to the next, so each group runs one core and two cores in
# turn, three times, and each figure is the best of its three.
declare -A ctl1 ctl2 vips2 gm2
race() {  # race [PIN...]: one first visit of group $g through the control, in seconds
    wineserver -k 2>/dev/null || true  # the server runs where its first process runs
    "$@" wine "$top/build/win/bin/thumblist_bench.exe" "$(winpath "$mixed/$g")" --race |
        tr -d '\r' | awk -F'\t' '$1 == "race" { print $3 }'
}
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
scratch=$(mktemp -d)
for g in "${groups[@]}"; do
    mapfile -t files < <(find "$mixed/$g" -maxdepth 1 -type f ! -name '_thumbs*' | sort)
    half=$(( (${#files[@]} + 1) / 2 ))
    one=() two=() v=() m=()
    for round in 1 2 3; do
        one+=("$(race one_core)")
        two+=("$(race)")
        start=$(now)
        printf '%s\0' "${files[@]}" | xargs -0 -P2 -n "$half" vipsthumbnail -s 100x100 -o "$scratch/%s.jpg" 2>/dev/null || true
        v+=("$(echo "$(now) - $start" | bc)")
        mkdir -p "$scratch/gm"
        start=$(now)
        printf '%s\0' "${files[@]}" | xargs -0 -P2 -n "$half" gm mogrify -output-directory "$scratch/gm" -format jpg -size 200x200 -thumbnail 100x100 2>/dev/null || true
        m+=("$(echo "$(now) - $start" | bc)")
        rm -rf "${scratch:?}"/*
    done
    ctl1[$g]=$(best "${one[@]}"); ctl2[$g]=$(best "${two[@]}")
    vips2[$g]=$(best "${v[@]}"); gm2[$g]=$(best "${m[@]}")
done
rm -rf "$scratch"
echo "=== thumbnails on two cores, first visit through the control: images per second (best of 3) ==="
printf '%-24s %6s %10s %10s %8s %10s %10s %7s\n' group files ctl-1core ctl-2core speedup vips-2 gm-2 ratio
t1=0; t2=0; tv=0; tg=0; tf=0
for g in "${groups[@]}"; do
    n=${count[$g]}
    best=$(echo "if (${vips2[$g]} < ${gm2[$g]}) ${vips2[$g]} else ${gm2[$g]}" | bc)
    printf '%-24s %6d %10s %10s %7sx %10s %10s %6sx\n' "$g" "$n" "$(echo "scale=1; $n / ${ctl1[$g]}" | bc)" \
        "$(echo "scale=1; $n / ${ctl2[$g]}" | bc)" "$(echo "scale=2; ${ctl1[$g]} / ${ctl2[$g]}" | bc)" \
        "$(echo "scale=1; $n / ${vips2[$g]}" | bc)" "$(echo "scale=1; $n / ${gm2[$g]}" | bc)" \
        "$(echo "scale=1; $best / ${ctl2[$g]}" | bc)"
    tf=$((tf + n)); t1=$(echo "$t1 + ${ctl1[$g]}" | bc); t2=$(echo "$t2 + ${ctl2[$g]}" | bc)
    tv=$(echo "$tv + ${vips2[$g]}" | bc); tg=$(echo "$tg + ${gm2[$g]}" | bc)
done
best=$(echo "if ($tv < $tg) $tv else $tg" | bc)
printf '%-24s %6d %10s %10s %7sx %10s %10s %6sx\n' overall "$tf" "$(echo "scale=1; $tf / $t1" | bc)" \
    "$(echo "scale=1; $tf / $t2" | bc)" "$(echo "scale=2; $t1 / $t2" | bc)" "$(echo "scale=1; $tf / $tv" | bc)" \
    "$(echo "scale=1; $tf / $tg" | bc)" "$(echo "scale=1; $best / $t2" | bc)"
wineserver -k 2>/dev/null || true  # back to one core for what follows

# Videos: a frame at a tenth of each, fitted into 100 x 100, beside ffmpegthumbnailer (the same
# tenth) and ffmpeg seeking there and writing one scaled frame.
videos=$mixed/videos
rm -f "$videos"/_thumbs*
video_result=$(one_core wine "$top/build/win/bin/cache_bench.exe" "$(winpath "$videos")" | tr -d '\r' |
    awk -F'\t' '$1 == "result"')
mapfile -t clips < <(find "$videos" -maxdepth 1 -type f ! -name '_thumbs*' | sort)
scratch=$(mktemp -d)
start=$(now)
for f in "${clips[@]}"; do one_core ffmpegthumbnailer -i "$f" -o "$scratch/t.png" -s 100 -t 10 2>/dev/null; done
thumbnailer=$(echo "$(now) - $start" | bc)
start=$(now)
for f in "${clips[@]}"; do
    one_core ffmpeg -loglevel error -y -ss 1 -i "$f" -frames:v 1 -vf scale=100:-1 "$scratch/f.png"
done
ffmpeg_time=$(echo "$(now) - $start" | bc)
rm -rf "$scratch"
IFS=$'\t' read -r _ _ files first second failed _ <<<"$video_result"
echo "=== video thumbnails, one core: videos per second ==="
printf '%-10s %6s %12s %12s %18s %10s %7s\n' group files first-visit second-visit ffmpegthumbnailer ffmpeg ratio
printf '%-10s %6d %12s %12s %18s %10s %6sx\n' videos "$files" "$(echo "scale=1; $files / $first" | bc)" \
    "$(echo "scale=1; $files / $second" | bc)" "$(echo "scale=1; ${#clips[@]} / $thumbnailer" | bc)" \
    "$(echo "scale=1; ${#clips[@]} / $ffmpeg_time" | bc)" \
    "$(echo "scale=1; $(echo "if ($thumbnailer < $ffmpeg_time) $thumbnailer else $ffmpeg_time" | bc) / $first" | bc)"
[ "$failed" -gt 0 ] && echo "  ($failed of them could not be made)"

# SetFolder on 10,000 files beside a bare listing of the same folder.
many=$bench/ten-thousand
if [ "$(find "$many" -maxdepth 1 -name '*.jpg' 2>/dev/null | wc -l)" -lt 10000 ]; then
    mkdir -p "$many"
    seed=$(find "$mixed/photos" -name '*.jpg' | head -n 1)
    convert "$seed" -resize 160x120 "$many/seed.jpg"
    for ((i = 0; i < 10000; i++)); do ln -f "$many/seed.jpg" "$many/$(printf 'p%05d' $i).jpg"; done
    rm -f "$many/seed.jpg"
fi
one_core wine "$top/build/win/bin/thumblist_bench.exe" "$(winpath "$many")" --listing | tr -d '\r' |
    awk -F'\t' '$1 == "listing" { printf "=== SetFolder on %d files: blocked %.1f ms the first time in the process, %.1f ms again; a bare listing takes %.1f ms ===\n", $4, $5 * 1000, $6 * 1000, $3 * 1000 }'

# The preview panel: from a selection change to the painted panel, in the real dialog, for
# large JPEGs (baseline and progressive) and 3 MP PNG and TIFF, beside a whole decode drawn
# scaled twice. The templates hold links to the mixed set's files; 24 MP progressive JPEGs
# are made from the baseline ones.
previews=$bench/preview
mkdir -p "$previews"
for g in jpeg-12mp-baseline jpeg-12mp-progressive png-3mp tiff-3mp; do
    mkdir -p "$previews/$g"
    for f in "$mixed/$g"/*.*; do
        case $f in */_thumbs*) continue ;; esac
        ln -f "$f" "$previews/$g/" 2>/dev/null || true
    done
done
mkdir -p "$previews/jpeg-24mp-baseline" "$previews/jpeg-24mp-progressive"
for f in "$mixed/jpeg-24mp"/*.jpg; do
    ln -f "$f" "$previews/jpeg-24mp-baseline/" 2>/dev/null || true
    p=$previews/jpeg-24mp-progressive/$(basename "$f" .jpg)-progressive.jpg
    [ -f "$p" ] || convert "$f" -quality 90 -interlace plane "$p"
done
echo "=== preview panel, one core: ms from a selection change to the painted panel ==="
printf '%-24s %5s %8s %8s %9s %8s %9s %12s %10s\n' template files cold step step-max held whole neighbours panel
one_core wine "$top/build/win/bin/preview_bench.exe" "$(winpath "$previews")" | tr -d '\r' |
    awk -F'\t' '$1 == "preview" && NF == 3 { printf "%-24s %5d (too few files the dialog lists)\n", $2, $3 }
                 $1 == "preview" && NF > 3 { printf "%-24s %5d %8.1f %8.1f %9.1f %8.1f %9.1f %10.1fMB %10s\n", $2, $3, $4, $5, $6, $7, $8, $9 / 1048576, $10 }'
echo "(cold: the template chosen, its first file shown; step: Next once the neighbours are prepared;"
echo " held: Next pressed again at once; whole: decoded whole and drawn scaled twice, as before;"
echo " neighbours: pixels the two prepared neighbours held at most)"

# Package extraction beside zlib.
"$top/build/native/bin/package_bench" "$mixed/photos" |
    awk -F'\t' '$1 == "package" { printf "=== package extraction, %d members, %.1f MB: %.1f MB/s; zlib uncompress alone %.1f MB/s ===\n", $2, $3, $3 / $4, $3 / $5 }'
wineserver -k 2>/dev/null || true
