#!/bin/bash
# `make run`: lays out a demo library beside a copy of Glimmerly.exe, registers a demo host
# folder as the host application's "AppPath" in the project's own Wine prefix, and starts
# Glimmerly in Wine's virtual desktop. Without a display it runs under Xvfb, saves a
# screenshot under build/ and says where. CATEGORIES=1 lays the library out in categories.
# DPI=144 (or any) shows it with the screen at that DPI (the prefix keeps it until the next
# run, which sets it again, 96 by default); DESKTOP=WxH sizes the virtual desktop (1280x1024).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
demo=$top/build/demo
host=$top/build/demo-host
dpi=${DPI:-96}
desktop_size=${DESKTOP:-1280x1024}
screenshot=$top/build/screenshot.png
[ "$dpi" = 96 ] || screenshot=$top/build/screenshot-${dpi}dpi.png
winpath() { printf 'Z:%s' "${1//\//\\}"; }

if [ -z "${GLIMMERLY_IN_XVFB:-}" ] && ! { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }; then
    export GLIMMERLY_IN_XVFB=1
    export GLIMMERLY_XVFB_SCREEN=${desktop_size}x24
    exec "$top/scripts/with-xvfb.sh" "$0" "$@"
fi

layout=()
[ "${CATEGORIES:-0}" = 1 ] && layout=(--categories)
"$top/scripts/demo-library.sh" "$demo" "$host" "${layout[@]}"
cp "$top/build/win/bin/Glimmerly.exe" "$top/build/win/bin/GlimmerlyDecoder.exe" "$demo/"
[ -f "$top/build/win/bin/Glimmerly.chm" ] && cp "$top/build/win/bin/Glimmerly.chm" "$demo/"

export WINEPREFIX=$top/build/wine-run
. "$top/scripts/wine-env.sh"
wine reg add 'HKLM\SOFTWARE\Brannic\Lumora\Orvane' /v AppPath /t REG_SZ /d "$(winpath "$host")" /f >/dev/null 2>&1
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1

cd "$demo"
if [ -z "${GLIMMERLY_IN_XVFB:-}" ]; then
    echo "Starting Glimmerly (library in $demo, host folder $host)"
    exec wine explorer /desktop=glimmerly,"$desktop_size" Glimmerly.exe
fi

# No display: run it, wait until its window shows thumbnails, take a screenshot, close it the
# way a user would (so the thumbnail caches are written), and wait for it to end.
wine explorer /desktop=glimmerly,"$desktop_size" Glimmerly.exe >/dev/null 2>&1 &
desktop=""
for _ in $(seq 1 120); do
    desktop=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -n 1) && [ -n "$desktop" ] && break
    sleep 0.5
done
sleep 8  # the first template's thumbnails are made in the background
import -window root "$screenshot"
[ -n "$desktop" ] && xdotool windowfocus "$desktop" key alt+F4 2>/dev/null || true
for _ in $(seq 1 40); do
    pgrep -f 'Glimmerly.exe' >/dev/null || break
    sleep 0.5
done
wineserver -k 2>/dev/null || true
echo "Glimmerly ran under Xvfb (no display); screenshot: $screenshot"
