#!/bin/bash
# Draws the starter library that Glimmerly ships with: template folders of frames,
# backgrounds, textures and masks, a folder of .qrt packages made from that material with our
# own qrt, and the Logo.bmp wordmark.
#
#   starter-library.sh OUT_DIR
#
# OUT_DIR is laid out as the folder beside Glimmerly.exe in folder mode: each sub-folder is a
# template. Everything is drawn here with ImageMagick and python3 from nothing but fixed seeds,
# so the same commit always gives the same bytes. The strip shows BMP, JPEG, TIFF, TGA and
# .qrt files, so the loose pictures use those formats (frames are 32-bit TGA with their
# transparency); the packages carry PNG, which the host application reads.
set -euo pipefail

[ $# = 1 ] || { echo "usage: starter-library.sh OUT_DIR" >&2; exit 2; }
out=$1
top=$(cd "$(dirname "$0")/.." && pwd)
qrt=${QRT:-$top/build/native/bin/qrt}
maps="python3 $top/scripts/starter-maps.py"
fail() {
    echo "starter-library: $*" >&2
    exit 1
}
for tool in convert python3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (make deps installs it)"
done
[ -x "$qrt" ] || fail "$qrt is missing; build it first (make qrt)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out/Backgrounds" "$out/Frames" "$out/Masks" "$out/Packages" "$out/Textures"

# Written without anything that changes from run to run: no time chunks in PNG, no dates, no
# profiles or comments.
stable=(-strip +set date:create +set date:modify -define png:exclude-chunks=date,time)
# save OUT KIND: the picture on standard input (MIFF) written as KIND.
save() {
    local out=$1 kind=$2
    case "$kind" in
        jpg) convert miff:- "${stable[@]}" -sampling-factor 2x2 -quality 90 "JPEG:$out" ;;
        grey) convert miff:- "${stable[@]}" -colorspace Gray -quality 92 "JPEG:$out" ;;
        tga) convert miff:- "${stable[@]}" -depth 8 -compress RLE "TGA:$out" ;;
        png) convert miff:- "${stable[@]}" -depth 8 "PNG32:$out" ;;
        greypng) convert miff:- "${stable[@]}" -colorspace Gray -depth 8 "PNG8:$out" ;;
        *) fail "no kind $kind" ;;
    esac
}

# ramp COLOUR...: a 1-pixel-high colour ramp through the colours, for -clut.
ramp() {
    local args=() previous=""
    for c in "$@"; do
        [ -n "$previous" ] && args+=(-size 64x1 "gradient:$previous-$c")
        previous=$c
    done
    printf '%s\n' "${args[@]}" +append
}

# ---------------------------------------------------------------------------------------------
# Backgrounds: 1280 x 800 JPEGs.

W=1280 H=800
bg=$out/Backgrounds

convert -size ${W}x$H -define gradient:angle=160 gradient:'#ffd6a5'-'#8e6cc4' \
    \( -size 2000x1600 radial-gradient:'rgba(255,244,220,0.6)'-'rgba(255,244,220,0)' \
       -crop ${W}x$H+360+660 +repage \) -compose Screen -composite miff:- |
    save "$bg/Dawn Glow.jpg" jpg

convert -size ${W}x$H radial-gradient:'#2a9db0'-'#071a33' -gravity center \
    \( -size ${W}x$H -seed 4 plasma:'#30a0b0'-'#081830' -blur 0x30 -colorspace Gray \
       -level 30%,70% \) -compose SoftLight -composite miff:- | save "$bg/Ocean Depths.jpg" jpg

# Out-of-focus lights: discs at two distances, the far ones more blurred.
bokeh() {  # bokeh OUT SEED TOP BOTTOM COLOURS...
    local file=$1 seed=$2 top=$3 bottom=$4
    shift 4
    $maps bokeh $W $H "$seed" 40 "$@" >"$work/far.mvg"
    $maps bokeh $W $H $((seed + 1)) 18 "$@" >"$work/near.mvg"
    convert -size ${W}x$H gradient:"$top"-"$bottom" \
        \( -size ${W}x$H xc:none -draw "$(cat "$work/far.mvg")" -blur 0x14 \) -compose Screen -composite \
        \( -size ${W}x$H xc:none -draw "$(cat "$work/near.mvg")" -blur 0x5 \) -compose Screen -composite \
        miff:- | save "$file" jpg
}
bokeh "$bg/Evening Lights.jpg" 11 '#1b1740' '#3a1036' '#f7c77c' '#ff8fa3' '#8fb8ff' '#c6a0ff'
bokeh "$bg/Amber Bokeh.jpg" 23 '#2b1a0c' '#120a06' '#ffd27a' '#ffb347' '#fff0c2' '#e89a3c'

convert -size 320x200 -seed 7 plasma:fractal -blur 0x2 -resize ${W}x$H! -blur 0x6 \
    -colorspace Gray -auto-level \
    \( $(ramp '#05030f' '#2a1050' '#7b2d8e' '#e05a7a' '#ffd0a0') \) -clut \
    \( -size ${W}x$H xc:black -seed 8 +noise Random -colorspace Gray -threshold 99.7% \
       -blur 0x0.6 \) -compose Screen -composite miff:- | save "$bg/Nebula.jpg" jpg

convert -size 256x160 -seed 31 plasma:fractal -resize ${W}x$H! -blur 0x18 -colorspace Gray \
    -auto-level \( $(ramp '#f6e7d8' '#f2c6c2' '#c9d7ee' '#d9ecd9' '#fbf3e4') \) -clut \
    miff:- | save "$bg/Watercolour Wash.jpg" jpg

# ---------------------------------------------------------------------------------------------
# Frames: 1200 x 800 32-bit TGAs whose windows are transparent, each with the soft shadow
# its moulding casts on the picture.

FW=1200 FH=800
# frame OUT BORDER RADIUS PROFILE COLOURING [MAP OPTIONS...]: COLOURING is a function that
# reads the light map (and the side map) named by its argument and writes MIFF.
frame() {
    local file=$1 border=$2 radius=$3 profile=$4 colouring=$5
    shift 5
    $maps frame $FW $FH "$border" "$radius" "$profile" "$work/map" "$@"
    "$colouring" "$work/map" >"$work/map-colour.miff"
    convert -size ${FW}x$FH xc:black "$work/map-shadow.pgm" -alpha off \
        -compose CopyOpacity -composite \
        \( "$work/map-colour.miff" "$work/map-alpha.pgm" -alpha off \
           -compose CopyOpacity -composite \) -compose Over -composite \
        miff:- | save "$file" tga
}
gold() { convert "$1-light.pgm" \( $(ramp '#2a1a06' '#7a5514' '#c8962e' '#f1d27e' '#fffbe8') \) \
    -clut miff:-; }
silver() { convert "$1-light.pgm" \( $(ramp '#1c1e21' '#5f656c' '#aeb4ba' '#e6e9ec' '#ffffff') \) \
    -clut miff:-; }
ebony() { convert "$1-light.pgm" \( $(ramp '#050505' '#141414' '#262626' '#555555' '#a0a0a0') \) \
    -clut miff:-; }
porcelain() { convert "$1-light.pgm" \
    \( $(ramp '#77756f' '#c2c0b9' '#ecebe5' '#faf9f5' '#ffffff') \) -clut miff:-; }
# Walnut: grain streaks along each piece, coloured, then lit by the moulding.
walnut() {
    convert \( -size 48x$FH xc: -seed 41 +noise Random -channel R -separate +channel \
               -resize ${FW}x$FH! \) \
            \( -size ${FW}x32 xc: -seed 42 +noise Random -channel R -separate +channel \
               -resize ${FW}x$FH! \) \
            "$1-side.pgm" -compose Over -composite -blur 0x0.8 -colorspace Gray \
        \( $(ramp '#2e1a0d' '#4f2f18' '#6e4527' '#8b5a34') \) -clut \
        "$1-light.pgm" -compose HardLight -composite miff:-
}

fr=$out/Frames
frame "$fr/Antique Gold.tga" 90 0 gold gold --shadow 12
frame "$fr/Pearl Gold.tga" 96 0 ornate gold --shadow 12 --pattern beads
frame "$fr/Silver Rope.tga" 80 0 ornate silver --shadow 10 --pattern twist
frame "$fr/Walnut.tga" 84 0 walnut walnut --shadow 12 --depth 0.6
frame "$fr/Rounded Porcelain.tga" 64 110 rounded porcelain --shadow 10
frame "$fr/Ebony Gallery.tga" 44 0 gallery ebony --shadow 8

# ---------------------------------------------------------------------------------------------
# Masks: 1200 x 800 grey JPEGs, white where the picture shows.

mk=$out/Masks
MW=1200 MH=800
convert -size ${MW}x$MH radial-gradient:white-black -level 0%,85% -sigmoidal-contrast 3x50% \
    miff:- | save "$mk/Soft Vignette.jpg" grey
convert -size ${MW}x$MH xc:black -fill white -draw 'ellipse 600,400 440,320 0,360' -blur 0x28 \
    miff:- | save "$mk/Feathered Oval.jpg" grey
convert -size ${MW}x$MH xc:black -fill white -draw 'roundrectangle 90,90 1109,709 90,90' \
    -blur 0x16 miff:- | save "$mk/Rounded Window.jpg" grey
convert -size ${MW}x$MH xc:black -fill white -draw 'circle 600,400 600,60' -blur 0x3 \
    miff:- | save "$mk/Circle.jpg" grey
convert -size ${MW}x$MH xc:black -fill white \
    -draw 'path "M 600,250 C 600,90 330,60 330,260 C 330,420 520,540 600,680 C 680,540 870,420 870,260 C 870,60 600,90 600,250 Z"' \
    -blur 0x4 miff:- | save "$mk/Heart.jpg" grey
# Torn paper: a rectangle whose edge is pushed about by noise, then softened a little.
convert -size ${MW}x$MH xc:black -fill white -draw 'rectangle 110,100 1089,699' \
    -seed 13 -spread 14 -blur 0x2 -threshold 50% -blur 0x1.2 \
    miff:- | save "$mk/Torn Edges.jpg" grey

# ---------------------------------------------------------------------------------------------
# Textures: 800 x 800 JPEGs. Blurs wrap around the edges, so the tiles repeat seamlessly.

tx=$out/Textures
T=800
tile=(-virtual-pixel tile)
# paper SEED BASE: a fibrous sheet of the given colour, lit from the top left.
paper() {
    convert "${tile[@]}" -size ${T}x$T xc: -seed "$1" +noise Random -channel R -separate +channel \
        -blur 0x1.5 \( -size 200x200 -seed $(($1 + 1)) plasma:fractal -colorspace Gray \
           -resize ${T}x$T! -blur 0x10 \) -compose Overlay -composite \
        -shade 120x50 -auto-level +level 72%,100% \
        \( -size ${T}x$T xc:"$2" \) +swap -compose Multiply -composite miff:-
}
paper 51 '#fbf3e1' | save "$tx/Cream Paper.jpg" jpg
paper 53 '#c9a06f' | save "$tx/Kraft Paper.jpg" jpg
# Canvas: threads across and down, woven over each other.
convert "${tile[@]}" \( -size ${T}x$T xc: -seed 61 +noise Random -channel R -separate +channel \
           -motion-blur 0x14+0 \) \
        \( -size ${T}x$T xc: -seed 62 +noise Random -channel R -separate +channel \
           -motion-blur 0x14+90 \) -compose Multiply -composite -auto-level \
    -shade 120x55 -auto-level +level 55%,100% \
    \( -size ${T}x$T xc:'#ece3cf' \) +swap -compose Multiply -composite \
    miff:- | save "$tx/Canvas.jpg" jpg
convert "${tile[@]}" \( -size ${T}x$T xc: -seed 71 +noise Random -channel R -separate +channel \
           -motion-blur 0x30+0 \) \
        \( -size ${T}x$T xc: -seed 72 +noise Random -channel R -separate +channel \
           -motion-blur 0x30+90 \) -compose Blend -define compose:args=50 -composite \
    -auto-level -level 10%,90% \( $(ramp '#6d7f86' '#a7b6bb' '#dfe6e6') \) -clut \
    miff:- | save "$tx/Blue Linen.jpg" jpg
# Marble: veins where a plasma, leaning on a diagonal gradient, crosses the zeros of a sine.
convert -size 200x200 -seed 81 plasma:fractal -colorspace Gray -blur 0x2 -resize ${T}x$T! \
    \( -size ${T}x$T -define gradient:angle=60 gradient:white-black \) \
    -compose Blend -define compose:args=45 -composite -auto-level \
    -evaluate Sine 3 -evaluate Abs 0 -level 0,10% -blur 0x0.8 \
    \( $(ramp '#9a958c' '#d8d3ca' '#f3f1ec' '#fbfaf8') \) -clut miff:- |
    save "$tx/White Marble.jpg" jpg
convert "${tile[@]}" -size ${T}x$T xc: -seed 91 +noise Random -colorspace Gray -blur 0x0.7 \
    \( -size 100x100 -seed 92 plasma:fractal -colorspace Gray -resize ${T}x$T! -blur 0x20 \) \
    -compose Overlay -composite -shade 135x45 -auto-level +level 40%,100% \
    \( -size ${T}x$T xc:'#9a968e' \) +swap -compose Multiply -composite \
    miff:- | save "$tx/Stone.jpg" jpg

# ---------------------------------------------------------------------------------------------
# Packages, packed from author folders: description.txt, sample.jpg and material folders.

# package NAME DESCRIPTION MAKER: MAKER fills the author folder given as its argument.
package() {
    local name=$1 description=$2 maker=$3 author="$work/author"
    rm -rf "$author"
    mkdir -p "$author"
    printf '%s' "$description" >"$author/description.txt"
    "$maker" "$author"
    "$qrt" pack "$author" "$out/Packages/$name.qrt" >/dev/null
}
# to_png IN OUT [SIZE]: a library picture as PNG for the host, optionally made smaller.
to_png() { convert "$1" ${3:+-resize "$3"} miff:- | save "$2" png; }
to_grey_png() { convert "$1" ${3:+-resize "$3"} miff:- | save "$2" greypng; }
# sample PICTURE OUT [FRAME]: the package's preview, a picture in a frame.
sample() {
    convert "$1" -resize 900x600^ -gravity center -extent 900x600 \
        ${3:+"$3" -resize 900x600! -compose Over -composite} miff:- |
        save "$2" jpg
}

gold_frames() {
    local a=$1
    mkdir -p "$a/Borders" "$a/Masks"
    to_png "$fr/Antique Gold.tga" "$a/Borders/Antique Gold.png" 900x600
    to_png "$fr/Pearl Gold.tga" "$a/Borders/Pearl Gold.png" 900x600
    to_png "$fr/Silver Rope.tga" "$a/Borders/Silver Rope.png" 900x600
    to_grey_png "$mk/Rounded Window.jpg" "$a/Masks/Rounded Window.png" 900x600
    sample "$bg/Amber Bokeh.jpg" "$a/sample.jpg" "$fr/Pearl Gold.tga"
}
soft_backgrounds() {
    local a=$1
    mkdir -p "$a/Backgrounds"
    for b in "Dawn Glow" "Evening Lights" "Watercolour Wash"; do
        convert "$bg/$b.jpg" -resize 1024x640 miff:- | save "$a/Backgrounds/$b.jpg" jpg
    done
    convert "$bg/Dawn Glow.jpg" "$bg/Evening Lights.jpg" "$bg/Watercolour Wash.jpg" \
        -resize 300x600^ -gravity center -extent 300x600 +append miff:- |
        save "$a/sample.jpg" jpg
}
paper_and_canvas() {
    local a=$1
    mkdir -p "$a/Textures" "$a/Brushes"
    for t in "Cream Paper" "Kraft Paper" "Canvas"; do
        convert "$tx/$t.jpg" -resize 512x512 miff:- | save "$a/Textures/$t.jpg" jpg
    done
    convert -size 64x64 radial-gradient:'rgba(0,0,0,1)'-'rgba(0,0,0,0)' miff:- |
        save "$a/Brushes/Soft Round.png" png
    convert -size 64x64 xc:none -fill black -seed 17 \
        -draw 'circle 32,32 32,6' -spread 3 -blur 0x0.8 miff:- | save "$a/Brushes/Chalk.png" png
    convert "$tx/Cream Paper.jpg" "$tx/Kraft Paper.jpg" "$tx/Canvas.jpg" \
        -resize 300x600^ -gravity center -extent 300x600 +append miff:- |
        save "$a/sample.jpg" jpg
}
portrait_kit() {
    local a=$1
    mkdir -p "$a/Templates" "$a/Backgrounds" "$a/Borders" "$a/Masks" "$a/Textures" "$a/Brushes"
    # A portrait card: cream with a gold line round an oval window for the photograph.
    convert -size 800x1000 gradient:'#fbf5e8'-'#efe4cc' -fill none -stroke '#c8962e' \
        -strokewidth 6 -draw 'ellipse 400,440 306,386 0,360' \
        \( -size 800x1000 xc:white -fill black -draw 'ellipse 400,440 290,370 0,360' \
           -blur 0x1 \) -alpha off -compose CopyOpacity -composite miff:- |
        save "$a/Templates/Oval Portrait.png" png
    convert "$bg/Ocean Depths.jpg" -resize 1024x640 miff:- |
        save "$a/Backgrounds/Ocean Depths.jpg" jpg
    to_png "$fr/Rounded Porcelain.tga" "$a/Borders/Rounded Porcelain.png" 900x600
    to_grey_png "$mk/Feathered Oval.jpg" "$a/Masks/Feathered Oval.png" 900x600
    convert "$tx/White Marble.jpg" -resize 512x512 miff:- |
        save "$a/Textures/White Marble.jpg" jpg
    convert -size 48x48 xc:none -fill black -draw 'circle 24,24 24,6' -blur 0x1 miff:- |
        save "$a/Brushes/Round.png" png
    convert "$bg/Ocean Depths.jpg" -resize 900x600^ -gravity center -extent 900x600 \
        \( "$a/Templates/Oval Portrait.png" -resize x560 \) -gravity center -compose Over \
        -composite miff:- | save "$a/sample.jpg" jpg
}

package "Gold Frames" \
    "Gold Frames: antique gold, pearl and silver rope borders with a rounded window mask." \
    gold_frames
package "Soft Backgrounds" \
    "Soft Backgrounds: a dawn gradient, evening lights and a watercolour wash." \
    soft_backgrounds
package "Paper and Canvas" \
    "Paper and Canvas: cream and kraft paper, artist's canvas, and two brushes." \
    paper_and_canvas
package "Portrait Kit" \
    "Portrait Kit: an oval portrait card with a background, border, mask, texture and brush." \
    portrait_kit

# ---------------------------------------------------------------------------------------------
# The wordmark on the bar behind the buttons: the project's own, drawn by make-resources.py.

python3 "$top/scripts/make-resources.py" --wordmark "$out/Logo.bmp"
