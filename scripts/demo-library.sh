#!/bin/bash
# Lays out Glimmerly's demo library: real pictures in several template folders, .qrt packages
# made with our own qrt, a Logo.bmp wordmark and, beside it, the host application's folders.
#
#   demo-library.sh DEMO_DIR HOST_DIR [--categories]
#
# DEMO_DIR is the folder that also holds Glimmerly.exe. By default its sub-folders are the
# templates (folder mode); with --categories they are grouped into category folders, with a
# Glimmerly.ini that turns category mode on and one per category that gives its caption.
# Switching between the two moves the template folders (and their thumbnail caches) over.
# HOST_DIR receives the six empty material folders that packages install into.
#
# The pictures are made from the photographs and graphics of Debian's mate-backgrounds with
# ImageMagick; nothing is fetched. A second run only checks that everything is there.
set -euo pipefail

usage() {
    echo "usage: demo-library.sh DEMO_DIR HOST_DIR [--categories]" >&2
    exit 2
}
[ $# -ge 2 ] || usage
demo=$1
host=$2
categories=0
case "${3:-}" in
    "") ;;
    --categories) categories=1 ;;
    *) usage ;;
esac

top=$(cd "$(dirname "$0")/.." && pwd)
qrt=${QRT:-$top/build/native/bin/qrt}
backgrounds=/usr/share/backgrounds/mate
fail() {
    echo "demo-library: $*" >&2
    exit 1
}
for tool in convert python3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (make deps installs it)"
done
[ -d "$backgrounds/nature" ] || fail "$backgrounds is missing (make deps installs mate-backgrounds)"

mkdir -p "$demo" "$host"
for kind in Templates Backgrounds Borders Masks Textures Brushes; do
    mkdir -p "$host/$kind"
done

# ---------------------------------------------------------------------------------------------
# Where each template lives: its category in category mode, the top in folder mode.

templates=(Nature "Mixed Sizes" Abstract Patterns Frames)
category_of() {
    case "$1" in
        Nature | "Mixed Sizes") echo Photographs ;;
        Abstract | Patterns) echo Graphics ;;
        Frames) echo Borders ;;
    esac
}
caption_of() {
    case "$1" in
        Photographs) echo "Photographs: nature close-ups, and pictures of every size and shape" ;;
        Graphics) echo "Graphics: abstract art and desktop patterns" ;;
        Borders) echo "Borders: framed pictures and frame packages" ;;
    esac
}
category_names=(Photographs Graphics Borders)

ini_category=$'[CATEGORY]\r\n1\r\n'
# ini_info CATEGORY: sets `info` to the text of the category's own Glimmerly.ini.
ini_info() { printf -v info '[INFO]\r\n%s\r\n' "$(caption_of "$1")"; }

# write_text FILE TEXT: writes FILE unless it already holds exactly TEXT.
write_text() {
    printf '%s' "$2" | cmp -s - "$1" 2>/dev/null || printf '%s' "$2" >"$1"
}
# remove_ours FILE TEXT: removes FILE when it holds exactly TEXT, that is, when we wrote it.
remove_ours() {
    if [ -f "$1" ] && printf '%s' "$2" | cmp -s - "$1"; then rm -f "$1"; fi
}

template_dir() {
    if [ $categories = 1 ]; then
        echo "$demo/$(category_of "$1")/$1"
    else
        echo "$demo/$1"
    fi
}

for t in "${templates[@]}"; do
    here=$(template_dir "$t")
    if [ $categories = 1 ]; then there="$demo/$t"; else there="$demo/$(category_of "$t")/$t"; fi
    if [ -d "$there" ] && [ ! -e "$here" ]; then
        mkdir -p "$(dirname "$here")"
        mv "$there" "$here"
    fi
    mkdir -p "$here"
done
if [ $categories = 1 ]; then
    write_text "$demo/Glimmerly.ini" "$ini_category"
    for c in "${category_names[@]}"; do
        ini_info "$c"
        write_text "$demo/$c/Glimmerly.ini" "$info"
    done
else
    remove_ours "$demo/Glimmerly.ini" "$ini_category"
    for c in "${category_names[@]}"; do
        [ -d "$demo/$c" ] || continue
        ini_info "$c"
        remove_ours "$demo/$c/Glimmerly.ini" "$info"
        rmdir "$demo/$c" 2>/dev/null || true
    done
fi

# ---------------------------------------------------------------------------------------------
# Pictures

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count_files() { find "$demo" -type f | wc -l; }
files_before=$(count_files)

# The ImageMagick output options and format prefix for a file, by its extension.
format_of() {
    case "${1##*.}" in
        jpg | jpeg) options=(-depth 8 -quality 88 -sampling-factor 2x2) prefix=JPEG: ;;
        bmp) options=(-depth 8 -type TrueColor) prefix=BMP3: ;;
        tif | tiff) options=(-depth 8 -type TrueColor -compress LZW) prefix=TIFF: ;;
        tga) options=(-depth 8 -type TrueColor -compress None) prefix=TGA: ;;
        png) options=(-depth 8) prefix=PNG32: ;;
        *) fail "no format for $1" ;;
    esac
}

# picture OUT SIZE SOURCE [OPTIONS...]: SOURCE cut to fill SIZE (WxH), then OPTIONS, written
# in the format of OUT's extension. Skipped when OUT exists.
picture() {
    local out=$1 size=$2 source=$3
    shift 3
    [ -s "$out" ] && return 0
    local tmp="$work/picture.${out##*.}" w=${size%x*} h=${size#*x}
    format_of "$out"
    convert -define jpeg:size=$((w * 2))x$((h * 2)) "$source" -auto-orient \
        -resize "${size}^" -background none -gravity center -extent "$size" +repage "$@" -strip \
        "${options[@]}" "$prefix$tmp"
    mv -f "$tmp" "$out"
}

nature=$backgrounds/nature
abstract=$backgrounds/abstract
desktop=$backgrounds/desktop

d=$(template_dir Nature)
picture "$d/Aqua.jpg" 1600x1000 "$nature/Aqua.jpg"
picture "$d/Blinds.jpg" 1440x900 "$nature/Blinds.jpg"
picture "$d/Dune.jpg" 1680x1050 "$nature/Dune.jpg"
picture "$d/Fresh Flower.jpg" 1200x902 "$nature/FreshFlower.jpg"
picture "$d/Garden.tif" 1280x800 "$nature/Garden.jpg"
picture "$d/Green Meadow.jpg" 1280x1024 "$nature/GreenMeadow.jpg"
picture "$d/Lady Bird.jpg" 1920x1200 "$nature/LadyBird.jpg"
picture "$d/Rain Drops.bmp" 800x500 "$nature/RainDrops.jpg"
picture "$d/Storm.jpg" 1920x1280 "$nature/Storm.jpg"
picture "$d/Two Wings.tga" 1024x640 "$nature/TwoWings.jpg"
picture "$d/Wood Grain.jpg" 900x1200 "$nature/Wood.jpg"
picture "$d/Yellow Flower.jpg" 1600x1000 "$nature/YellowFlower.jpg"

# The abstract graphics are light shapes on transparency, made to lie on a desktop colour;
# here each gets a gradient of its own behind it.
on_gradient() {  # on_gradient SIZE TOP BOTTOM: arguments that put the picture on a gradient
    gradient_args=(\( -size "$1" "gradient:$2-$3" \) +swap -compose over -composite)
}
d=$(template_dir Abstract)
on_gradient 1070x600 '#2c4a6b' '#111a2a'
picture "$d/Night Arcs.jpg" 1070x600 "$abstract/Arc-Colors-Transparent-Wallpaper.png" \
    "${gradient_args[@]}"
picture "$d/Azure Elephants.jpg" 1920x1080 "$abstract/Elephants.jpg"
on_gradient 1600x1000 '#4a2470' '#160b2e'
picture "$d/Flow.jpg" 1600x1000 "$abstract/Flow.png" "${gradient_args[@]}"
on_gradient 1280x800 '#c0641f' '#4a1a0a'
picture "$d/Gulp.tif" 1280x800 "$abstract/Gulp.png" "${gradient_args[@]}"
on_gradient 1024x768 '#12707c' '#0f1f3a'
picture "$d/Silk.bmp" 1024x768 "$abstract/Silk.png" "${gradient_args[@]}"
on_gradient 1600x1200 '#3a8a45' '#0c2a18'
picture "$d/Spring.jpg" 1600x1200 "$abstract/Spring.png" "${gradient_args[@]}"
on_gradient 1200x900 '#8a3279' '#22103c'
picture "$d/Waves.tga" 1200x900 "$abstract/Waves.png" "${gradient_args[@]}"

d=$(template_dir Patterns)
picture "$d/Cold.jpg" 1920x1280 "$desktop/Ubuntu-Mate-Cold-no-logo.png"
picture "$d/Float.jpg" 1440x900 "$desktop/Float-into-MATE.png"
picture "$d/Radioactive.jpg" 1280x853 "$desktop/Ubuntu-Mate-Radioactive-no-logo.png"
on_gradient 1920x1200 '#5a6f8c' '#1b2330'
picture "$d/Stripes.jpg" 1920x1200 "$desktop/Stripes.png" "${gradient_args[@]}"
on_gradient 1520x960 '#2f7d6b' '#0e2a26'
picture "$d/Stripes Green.tiff" 1520x960 "$desktop/Stripes.png" "${gradient_args[@]}"
on_gradient 960x720 '#7c5a2a' '#2a1c0e'
picture "$d/Stripes Amber.bmp" 960x720 "$desktop/Stripes.png" "${gradient_args[@]}"
picture "$d/Warm.tga" 1280x853 "$desktop/Ubuntu-Mate-Warm-no-logo.png"

# Sizes and shapes from tiny to large, in every format the strip shows.
d=$(template_dir "Mixed Sizes")
picture "$d/Large 3840x2160.jpg" 3840x2160 "$abstract/Elephants_3840x2160.jpg"
picture "$d/Panorama 2400x600.jpg" 2400x600 "$nature/Storm.jpg"
picture "$d/Portrait 1080x1620.jpg" 1080x1620 "$nature/Garden.jpg"
picture "$d/Square 1000x1000.tiff" 1000x1000 "$nature/YellowFlower.jpg"
picture "$d/Tall 400x1600.tif" 400x1600 "$nature/Wood.jpg"
picture "$d/Medium 640x480.jpg" 640x480 "$nature/LadyBird.jpg"
picture "$d/Grey 800x600.jpg" 800x600 "$nature/RainDrops.jpg" -colorspace Gray
picture "$d/Small 160x120.bmp" 160x120 "$nature/FreshFlower.jpg"
picture "$d/Small 120x160.tga" 120x160 "$nature/TwoWings.jpg"
picture "$d/Tiny 48x48.tga" 48x48 "$nature/Aqua.jpg"
if [ ! -s "$d/Palette 256 colours.bmp" ]; then
    convert -define jpeg:size=1200x800 "$nature/Garden.jpg" -resize 600x400^ -gravity center \
        -extent 600x400 -strip -colors 256 -type Palette -compress RLE "BMP3:$work/palette.bmp"
    mv -f "$work/palette.bmp" "$d/Palette 256 colours.bmp"
fi

# Framed pictures, made here from the photographs.
d=$(template_dir Frames)
picture "$d/Classic Mat.jpg" 900x600 "$nature/Dune.jpg" \
    -bordercolor '#f3efe4' -border 48 -bordercolor '#2b2a28' -border 6
picture "$d/Double Mat.jpg" 720x900 "$nature/FreshFlower.jpg" \
    -bordercolor '#1f3b4d' -border 10 -bordercolor '#ece6d6' -border 56 \
    -bordercolor '#6b4a2b' -border 14
picture "$d/Gallery Black.jpg" 960x640 "$nature/GreenMeadow.jpg" \
    -mattecolor '#1d1d1f' -frame 40x40+10+12
picture "$d/Gilded.tif" 800x800 "$nature/YellowFlower.jpg" \
    -mattecolor '#b8923e' -frame 30x30+12+8 -bordercolor '#6b5220' -border 3
picture "$d/Soft Vignette.jpg" 900x600 "$nature/LadyBird.jpg" \
    -background '#f6f2ea' -vignette 0x60+30+30
picture "$d/Rounded Corners.bmp" 800x534 "$nature/Aqua.jpg" \
    \( +clone -alpha extract -fill black -colorize 100 -fill white \
       -draw 'roundrectangle 0,0 799,533 48,48' \) -alpha off -compose CopyOpacity -composite \
    -compose over -bordercolor '#5d5f63' -border 20 -background '#5d5f63' -flatten
picture "$d/Instant Print.jpg" 600x600 "$nature/TwoWings.jpg" \
    -bordercolor white -border 28 -gravity south -background white -splice 0x84 \
    -background '#5d5f63' -rotate -4 -bordercolor '#5d5f63' -border 30

# ---------------------------------------------------------------------------------------------
# Packages, packed from author folders laid out in the work folder.

# package OUT DESCRIPTION MAKER: MAKER fills the author folder given as its argument.
package() {
    local out=$1 description=$2 maker=$3
    [ -s "$out" ] && return 0
    [ -x "$qrt" ] || fail "$qrt is missing; build it first (make qrt)"
    local author="$work/author"
    rm -rf "$author"
    mkdir -p "$author"
    printf '%s' "$description" >"$author/description.txt"
    "$maker" "$author"
    "$qrt" pack "$author" "$work/package.qrt" >/dev/null
    mv -f "$work/package.qrt" "$out"
}

golden_hour() {
    local a=$1 warm=(-modulate '104,118,100' -fill '#ff9a2e' -colorize 14%)
    mkdir -p "$a/Backgrounds" "$a/Masks" "$a/Textures" "$a/Templates/Golden Hour"
    picture "$a/Backgrounds/Golden Dune.jpg" 1600x1000 "$nature/Dune.jpg" "${warm[@]}"
    picture "$a/Backgrounds/Amber Meadow.jpg" 1280x1024 "$nature/GreenMeadow.jpg" "${warm[@]}"
    convert -size 1200x800 radial-gradient:white-black -colorspace Gray -strip \
        "PNG:$a/Masks/Soft Vignette.png"
    picture "$a/Textures/Sun Haze.jpg" 512x512 "$nature/YellowFlower.jpg" "${warm[@]}" \
        -blur 0x12
    picture "$a/Templates/Golden Hour/Portrait.png" 800x1000 "$nature/Garden.jpg" \
        "${warm[@]}" -vignette 0x80+40+40
    picture "$a/sample.jpg" 960x600 "$nature/Dune.jpg" "${warm[@]}" \
        -background '#1c1410' -vignette 0x90+60+40
}

frame_png() {  # frame_png OUT COLOUR WIDTH: a 1200 x 800 border with a transparent window
    convert -size 1200x800 "xc:$2" \( -size $((1200 - 2 * $3))x$((800 - 2 * $3)) xc:white \) \
        -geometry "+$3+$3" -alpha set -compose DstOut -composite -strip "PNG32:$1"
}
classic_frames() {
    local a=$1
    mkdir -p "$a/Borders" "$a/Masks"
    frame_png "$a/Borders/Ivory Mat.png" '#f3efe4' 90
    frame_png "$a/Borders/Gallery Black.png" '#1d1d1f' 60
    frame_png "$a/Borders/Thin Gold.png" '#b8923e' 24
    convert -size 1200x800 xc:black -fill white -draw 'roundrectangle 40,40 1159,759 80,80' \
        -colorspace Gray -strip "PNG:$a/Masks/Rounded Rectangle.png"
    picture "$a/sample.jpg" 800x534 "$nature/GreenMeadow.jpg" \
        -mattecolor '#1d1d1f' -frame 36x36+9+11 -bordercolor '#f3efe4' -border 24
}

texture_tiles() {
    local a=$1
    mkdir -p "$a/Textures" "$a/Brushes"
    on_gradient 512x512 '#12707c' '#0f1f3a'
    picture "$a/Textures/Silk Tile.jpg" 512x512 "$abstract/Silk.png" "${gradient_args[@]}"
    on_gradient 512x512 '#8a3279' '#22103c'
    picture "$a/Textures/Waves Tile.jpg" 512x512 "$abstract/Waves.png" "${gradient_args[@]}"
    on_gradient 512x512 '#c0641f' '#4a1a0a'
    picture "$a/Textures/Gulp Tile.jpg" 512x512 "$abstract/Gulp.png" "${gradient_args[@]}"
    on_gradient 512x512 '#3a8a45' '#0c2a18'
    picture "$a/Textures/Spring Tile.jpg" 512x512 "$abstract/Spring.png" "${gradient_args[@]}"
    convert -size 64x64 radial-gradient:'rgba(0,0,0,1)'-'rgba(0,0,0,0)' -strip \
        "PNG32:$a/Brushes/Soft Round.png"
    convert -size 64x64 xc:none -fill black \
        -draw 'polygon 32,2 37,27 62,32 37,37 32,62 27,37 2,32 27,27' -strip \
        "PNG32:$a/Brushes/Sparkle.png"
    convert "$a/Textures/Silk Tile.jpg" "$a/Textures/Waves Tile.jpg" +append \
        \( "$a/Textures/Gulp Tile.jpg" "$a/Textures/Spring Tile.jpg" +append \) -append \
        -resize 800x800 -bordercolor '#2e3238' -border 8 -quality 88 -strip "JPEG:$a/sample.jpg"
}

starter_kit() {
    local a=$1
    mkdir -p "$a/Templates" "$a/Backgrounds" "$a/Borders" "$a/Masks" "$a/Textures" "$a/Brushes"
    # A postcard: paper, a stamp box and address lines, and a window for the photograph.
    convert -size 1200x800 xc:'#f4efe3' -fill none -stroke '#b9a98a' -strokewidth 3 \
        -draw 'rectangle 1030,40 1160,200' -draw 'line 760,420 1140,420' \
        -draw 'line 760,500 1140,500' -draw 'line 760,580 1140,580' \
        \( -size 640x700 xc:white \) -geometry +50+50 -alpha set -compose DstOut -composite \
        -strip "PNG32:$a/Templates/Postcard.png"
    picture "$a/Backgrounds/Storm Sky.jpg" 1600x1000 "$nature/Storm.jpg"
    frame_png "$a/Borders/Simple White.png" '#ffffff' 40
    convert -size 1200x800 xc:black -fill white -draw 'ellipse 600,400 520,340 0,360' \
        -blur 0x8 -colorspace Gray -strip "PNG:$a/Masks/Oval.png"
    picture "$a/Textures/Wood.jpg" 512x512 "$nature/Wood.jpg"
    convert -size 32x32 xc:none -fill black -draw 'circle 16,16 16,4' -strip \
        "PNG32:$a/Brushes/Dot.png"
    convert -size 1200x800 xc:'#f4efe3' \
        \( -define jpeg:size=1400x1400 "$nature/Aqua.jpg" -resize 640x700^ -gravity center \
           -extent 640x700 \) -gravity northwest -geometry +50+50 -composite \
        "$a/Templates/Postcard.png" -composite -resize 900x600 -quality 88 -strip \
        "JPEG:$a/sample.jpg"
}

package "$(template_dir Nature)/Golden Hour.qrt" \
    "Golden Hour: warm backgrounds, a soft vignette mask and a sunlit texture for portraits." \
    golden_hour
package "$(template_dir Frames)/Classic Frames.qrt" \
    "Classic Frames: ivory mat, gallery black and thin gold borders with a rounded mask." \
    classic_frames
package "$(template_dir Abstract)/Texture Tiles.qrt" \
    "Texture Tiles: four abstract tiles in deep colours, and two brushes." \
    texture_tiles
package "$(template_dir "Mixed Sizes")/Starter Kit.qrt" \
    "Starter Kit: one of every kind, from a postcard template and a background to a brush." \
    starter_kit

# ---------------------------------------------------------------------------------------------
# The wordmark on the bar behind the buttons.

if [ ! -s "$demo/Logo.bmp" ]; then
    python3 "$top/scripts/make-resources.py" --wordmark "$demo/Logo.bmp"
fi

made=$(($(count_files) - files_before))
if [ $made -gt 0 ]; then
    mode="folder mode"
    [ $categories = 1 ] && mode="category mode"
    files="files"
    [ $made = 1 ] && files="file"
    echo "Demo library ($mode) in $demo: $made new $files; host folders in $host"
fi
