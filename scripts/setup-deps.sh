#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build, run and test Glimmerly.
# Idempotent and silent when everything is already there.
set -e

# Wine's Media Foundation and DirectShow decode video through GStreamer's plugins; the tests'
# videos are written by ffmpeg.
# Wine measures dialog units with the fonts it finds: fonts-wine (its Tahoma, MS Sans Serif and
# Marlett) and fonts-liberation are recommends of wine, which --no-install-recommends leaves out.
packages="
  build-essential cmake ninja-build pkg-config
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev zlib1g-dev googletest
  clang libclang-rt-14-dev
  wine wine64 xvfb xauth xdotool x11-utils imagemagick
  fonts-wine fonts-liberation
  mate-backgrounds
  fp-utils python3
  ffmpeg
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
"
# scripts/make-decode-fixtures.sh draws the decoder tests' files with these writers.
if [ -n "${GLIMMERLY_FIXTURES:-}" ]; then
    packages="$packages libtiff-tools gifsicle netpbm python3-pil libvips-tools"
fi
# `make dist` builds the installer with NSIS (the zip is written by python3's zipfile).
if [ -n "${GLIMMERLY_DIST:-}" ]; then
    packages="$packages nsis"
fi
# `make bench` also needs what it compares against and its picture material.
if [ -n "${GLIMMERLY_BENCH:-}" ]; then
    packages="$packages libvips-tools graphicsmagick ffmpegthumbnailer lomiri-wallpapers-16.04 bc util-linux"
fi

missing=""
for p in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        "install ok installed") ;;
        *) missing="$missing $p" ;;
    esac
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
    run_as_root=""
elif command -v sudo >/dev/null 2>&1; then
    run_as_root="sudo"
else
    echo "setup-deps: need root or sudo to install:$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$run_as_root apt-get update -qq
$run_as_root apt-get install -y -qq --no-install-recommends $missing >/dev/null
