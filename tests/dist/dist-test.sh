#!/bin/bash
# `make dist-test`: the installer and the portable zip of build/dist, used as a user would,
# in a fresh Wine prefix under Xvfb:
#   - silent install: files, shortcut, "Apps and features" entry; the installed program starts,
#     shows the starter library with thumbnails (screenshot build/dist/screenshot.png), writes
#     its caches into the template folder and registers the .qrt type; it closes
#   - a template folder of the user's own, then a second install over it: the user's folder,
#     its caches and the starter caches are untouched
#   - silent uninstall: everything installed is gone, the user's folder stays
#   - the zip unpacked into a temporary folder: the program starts from there
#   - an install into a folder given with /D= and its uninstall, which leaves the .qrt type
#     alone now that it names the unpacked copy, and removes the folder it leaves empty
#   - the starter library drawn again and the zip written again give the same bytes
# Ends with "N passed, N failed" and exits non-zero when any check failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

if [ -z "${GLIMMERLY_IN_XVFB:-}" ]; then
    export GLIMMERLY_IN_XVFB=1
    exec scripts/with-xvfb.sh "$0" "$@"
fi

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: one counted check
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what"
    fi
}
die() {
    echo "dist-test: $*" >&2
    echo "$passed passed, $((failed + 1)) failed"
    exit 1
}

dist=build/dist
version=$(sed -n 's/^#define GLIMMERLY_VERSION "\(.*\)"$/\1/p' build/win/generated/glimmerly/Version.h)
setup=$top/$dist/Glimmerly-$version-setup.exe
zip=$top/$dist/Glimmerly-$version-portable.zip
stage=$top/$dist/stage/Glimmerly
[ -n "$version" ] && [ -f "$setup" ] && [ -f "$zip" ] && [ -d "$stage" ] ||
    die "no installer, zip or staged folder for version '$version' in $dist (make dist)"

work=$top/build/dist-test
export WINEPREFIX=$work/wine
if [ -d "$WINEPREFIX" ]; then WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true; fi
rm -rf "$work"
mkdir -p "$work"
echo "Making a fresh Wine prefix in $WINEPREFIX"
. scripts/wine-env.sh
# No menu entries or file associations in the real desktop for what the installer creates.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
trap 'wineserver -k 2>/dev/null' EXIT

winpath() { winepath -w "$1" 2>/dev/null; }
unixpath() { winepath -u "$1" 2>/dev/null; }
win_env() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
# reg_value KEY NAME: the value's data as `reg query` prints it, empty when absent.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]+/, ""); print; exit }'
}
reg_default() {
    wine reg query "$1" /ve 2>/dev/null | tr -d '\r' |
        awk '/REG_SZ/ { sub(/^.*REG_SZ[ \t]+/, ""); print; exit }'
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
equal() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }

# Every staged file, relative to the staged folder.
mapfile -t staged_files < <(cd "$stage" && find . -type f | sed 's|^\./||' | sort)
mapfile -t staged_folders < <(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||' | sort)
all_match() {  # all_match FOLDER: FOLDER holds every staged file with the same bytes
    local f bad=0
    for f in "${staged_files[@]}"; do
        cmp -s "$stage/$f" "$1/$f" || { echo "  differs or missing: $1/$f"; bad=1; }
    done
    return $bad
}
none_left() {  # none_left FOLDER: no staged file and no starter folder is left in FOLDER
    local f bad=0
    for f in "${staged_files[@]}" "${staged_folders[@]}" Uninstall.exe; do
        [ -e "$1/$f" ] && { echo "  left behind: $1/$f"; bad=1; }
    done
    return $bad
}

pictures=$(find "$stage/Backgrounds" -name '*.jpg' | wc -l)
record_bytes=30024  # one thumbnail record in _thumbs.ctl: a 24-byte header and 100 x 100 x 3
screenshot=$top/$dist/screenshot.png

# run_glimmerly EXE_UNIX [SCREENSHOT]: starts the program in a virtual desktop, waits until
# the first template folder's thumbnails are all in its cache, optionally takes a screenshot,
# closes the program as a user does (Alt+F4) and waits for it to end.
run_glimmerly() {
    local exe=$1 shot=${2:-} folder ctl size=0 i
    folder=$(dirname "$exe")
    ctl=$folder/Backgrounds/_thumbs.ctl
    (cd "$folder" && exec wine explorer /desktop=glimmerly,1280x1024 "$(winpath "$exe")" \
        >/dev/null 2>&1) &
    local starter=$!
    for i in $(seq 1 240); do
        size=$(stat -c %s "$ctl" 2>/dev/null || echo 0)
        [ "$size" -ge $((pictures * record_bytes)) ] && break
        sleep 0.5
    done
    if [ "$size" -lt $((pictures * record_bytes)) ]; then
        echo "  after 120 s $ctl holds $size bytes, not the $pictures thumbnails of Backgrounds"
        return 1
    fi
    local window=""
    for i in $(seq 1 60); do
        window=$(xdotool search --name '^Glimmerly$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        sleep 0.5
    done
    [ -n "$window" ] || { echo "  no Glimmerly window after 30 s"; return 1; }
    # The strip paints each thumbnail after the cache has it: the picture is taken once two
    # grabs of the screen a quarter of a second apart are the same.
    if [ -n "$shot" ]; then
        local previous="" grab settled=0
        for i in $(seq 1 40); do
            grab=$work/grab-$((i % 2)).rgb
            import -window root -depth 8 "RGB:$grab"
            if [ -n "$previous" ] && cmp -s "$previous" "$grab"; then settled=1; break; fi
            previous=$grab
            sleep 0.25
        done
        [ $settled = 1 ] || { echo "  the screen did not settle within 10 s"; return 1; }
        convert -size "$(xdpyinfo | awk '/dimensions:/ { print $2; exit }')" -depth 8 \
            "RGB:$grab" "$shot" || return 1
    fi
    local desktop
    desktop=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -n 1)
    [ -n "$desktop" ] && xdotool windowfocus "$desktop" key alt+F4 2>/dev/null
    for i in $(seq 1 120); do
        kill -0 "$starter" 2>/dev/null || break
        sleep 0.5
    done
    if kill -0 "$starter" 2>/dev/null; then
        echo "  Glimmerly did not end within 60 s of Alt+F4"
        return 1
    fi
    wait "$starter" 2>/dev/null
    return 0
}
# wait_for_wine: every Windows process of the prefix has ended (the uninstaller runs on from
# a copy of itself in the temporary folder after Uninstall.exe returns).
wait_for_wine() {
    timeout 120 wineserver -w || { echo "  Wine processes still running after 120 s"; return 1; }
}

# ---------------------------------------------------------------------------------------------
echo "Silent install"
local_app=$(win_env LOCALAPPDATA)
app_data=$(win_env APPDATA)
[ -n "$local_app" ] && [ -n "$app_data" ] || die "no LOCALAPPDATA or APPDATA in the prefix"
inst_win="$local_app\\Programs\\Glimmerly"
start=$(date +%s)
wine "$setup" /S || die "the silent install failed"
wait_for_wine
inst=$(unixpath "$inst_win")
shortcut=$(unixpath "$app_data\\Microsoft\\Windows\\Start Menu\\Programs\\Glimmerly.lnk")
echo "  installed in $(($(date +%s) - start)) s to $inst_win"

check "every staged file is installed" all_match "$inst"
check "the uninstaller is installed" test -f "$inst/Uninstall.exe"
check "the Start-menu shortcut exists" test -f "$shortcut"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly'
check "DisplayName" equal "$(reg_value "$key" DisplayName)" "Glimmerly"
check "DisplayVersion" equal "$(reg_value "$key" DisplayVersion)" "$version"
check "Publisher" equal "$(reg_value "$key" Publisher)" "The Glimmerly developers"
check "DisplayIcon" equal "$(reg_value "$key" DisplayIcon)" "$inst_win\\Glimmerly.exe,0"
check "InstallLocation" equal "$(reg_value "$key" InstallLocation)" "$inst_win"
check "UninstallString" equal "$(reg_value "$key" UninstallString)" "\"$inst_win\\Uninstall.exe\""
check "QuietUninstallString" equal "$(reg_value "$key" QuietUninstallString)" \
    "\"$inst_win\\Uninstall.exe\" /S"
size_kb=$(($(reg_value "$key" EstimatedSize)))
staged_kb=$(du -sk --apparent-size "$stage" | cut -f1)
check "EstimatedSize ($size_kb KB) is the staged size ($staged_kb KB)" \
    test $((size_kb * 10)) -ge $((staged_kb * 9)) -a $((size_kb * 10)) -le $((staged_kb * 11))

# ---------------------------------------------------------------------------------------------
echo "The installed program"
start=$(date +%s)
check "the installed Glimmerly shows the Backgrounds thumbnails and closes" \
    run_glimmerly "$inst/Glimmerly.exe" "$screenshot"
echo "  ran for $(($(date +%s) - start)) s; screenshot: $screenshot"
check "the Backgrounds cache index was written in the template folder" \
    test -s "$inst/Backgrounds/_thumbs.idx"
shown=$(wine "$inst/thumbs.exe" show "$(winpath "$inst/Backgrounds")" 2>/dev/null | tr -d '\r' |
    grep -c '\.JPG	')
check "the cache lists the $pictures backgrounds ($shown)" test "$shown" -eq "$pictures"
check "the .qrt type names the installed copy" \
    equal "$(reg_default 'HKCR\QRTInstaller\shell\open\command')" "\"$inst_win\\Glimmerly.exe\""
check ".qrt is a QRTInstaller" equal "$(reg_default 'HKCR\.qrt')" "QRTInstaller"

# ---------------------------------------------------------------------------------------------
echo "A template folder of the user's own, and an install over it"
mine="$inst/My Templates"
mkdir -p "$mine"
convert -size 640x400 gradient:'#3a6ea5'-'#f2c14e' -strip "JPEG:$mine/Sunset.jpg"
wine "$inst/thumbs.exe" make "$(winpath "$mine")" >/dev/null 2>&1
check "the user's folder has its caches" test -s "$mine/_thumbs.idx" -a -s "$mine/_thumbs.ctl"
keep=$work/keep
mkdir -p "$keep"
cp -p "$mine/Sunset.jpg" "$mine/_thumbs.idx" "$mine/_thumbs.ctl" "$keep/"
cp -p "$inst/Backgrounds/_thumbs.idx" "$keep/starter.idx"
cp -p "$inst/Backgrounds/_thumbs.ctl" "$keep/starter.ctl"
wine "$setup" /S || die "the second silent install failed"
wait_for_wine
check "a second install puts every file in place again" all_match "$inst"
for f in Sunset.jpg _thumbs.idx _thumbs.ctl; do
    check "the user's $f survives the second install" cmp -s "$keep/$f" "$mine/$f"
done
check "the starter folder's cache index survives" cmp -s "$keep/starter.idx" "$inst/Backgrounds/_thumbs.idx"
check "the starter folder's cache data survive" cmp -s "$keep/starter.ctl" "$inst/Backgrounds/_thumbs.ctl"

# ---------------------------------------------------------------------------------------------
echo "Silent uninstall"
wine "$inst/Uninstall.exe" /S || die "the silent uninstall failed to start"
wait_for_wine
check "nothing installed is left" none_left "$inst"
check "the starter folders' caches went with them" test ! -e "$inst/Backgrounds"
check "the shortcut is gone" test ! -e "$shortcut"
check "the uninstall entry is gone" bash -c "! wine reg query '$key' >/dev/null 2>&1"
check "the .qrt type is gone" bash -c "! wine reg query 'HKCR\\.qrt' >/dev/null 2>&1"
check "the QRTInstaller type is gone" bash -c "! wine reg query 'HKCR\\QRTInstaller' >/dev/null 2>&1"
for f in Sunset.jpg _thumbs.idx _thumbs.ctl; do
    check "the user's $f is kept" cmp -s "$keep/$f" "$mine/$f"
done
check "only the user's folder is left in the install folder" \
    equal "$(ls -A "$inst" 2>/dev/null)" "My Templates"

# ---------------------------------------------------------------------------------------------
echo "The portable zip"
temp_win=$(win_env TEMP)
portable_root=$(unixpath "$temp_win")/portable
mkdir -p "$portable_root"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$zip" "$portable_root" || die "the zip does not unpack"
portable=$portable_root/Glimmerly
check "the zip holds every staged file in one folder" all_match "$portable"
check "the zip holds nothing else" \
    equal "$(cd "$portable_root" && find . -type f | wc -l)" "${#staged_files[@]}"
check "the unpacked Glimmerly shows the Backgrounds thumbnails and closes" \
    run_glimmerly "$portable/Glimmerly.exe" "$work/portable.png"
check "the unpacked copy wrote its cache beside its pictures" test -s "$portable/Backgrounds/_thumbs.idx"
portable_win=$(winpath "$portable")
check "the .qrt type names the unpacked copy" \
    equal "$(reg_default 'HKCR\QRTInstaller\shell\open\command')" "\"$portable_win\\Glimmerly.exe\""

echo "Install into a folder of one's own (/D=) and uninstall: the unpacked copy's .qrt type stays"
custom_win='C:\Apps\Glimmerly Custom'
custom=$(unixpath "$custom_win")
# NSIS takes /D= unquoted, spaces and all, as the end of its command line, which only a
# command line passed as it is (here through cmd) gives it.
wine cmd /c "$(winpath "$setup") /S /D=$custom_win" ||
    die "the silent install into $custom_win failed"
wait_for_wine
check "/D= chooses the install folder" all_match "$custom"
check "and the uninstall entry names it" equal "$(reg_value "$key" InstallLocation)" "$custom_win"
wine "$custom/Uninstall.exe" /S || die "the silent uninstall from $custom_win failed to start"
wait_for_wine
check "the uninstaller leaves a .qrt type naming another copy" \
    equal "$(reg_default 'HKCR\QRTInstaller\shell\open\command')" "\"$portable_win\\Glimmerly.exe\""
check "and .qrt itself" equal "$(reg_default 'HKCR\.qrt')" "QRTInstaller"
check "an install folder left empty is removed" test ! -e "$custom"

# ---------------------------------------------------------------------------------------------
echo "Reproducible output"
start=$(date +%s)
scripts/make-dist.sh --zip-to "$work/again-1.zip" && scripts/make-dist.sh --zip-to "$work/again-2.zip"
check "the zip written twice is the same" cmp "$work/again-1.zip" "$work/again-2.zip"
check "and the same as the one in $dist" cmp "$work/again-1.zip" "$zip"
scripts/starter-library.sh "$work/library" >/dev/null
check "the starter library drawn again is the same, byte for byte" \
    diff -r "$work/library" "$dist/library"
echo "  took $(($(date +%s) - start)) s"

echo "$passed passed, $failed failed"
[ $failed = 0 ]
