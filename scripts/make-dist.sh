#!/bin/bash
# `make dist`: the two forms a Windows user downloads, from the built Windows tree.
#
#   make-dist.sh                 stages the program folder in build/dist/stage/Glimmerly and
#                                writes build/dist/Glimmerly-VERSION-setup.exe (NSIS) and
#                                build/dist/Glimmerly-VERSION-portable.zip
#   make-dist.sh --zip-to FILE   writes only the zip, from the folder already staged, to FILE
#
# The staged folder holds the stripped executables, the help, the licence and the starter
# library (scripts/starter-library.sh). Times come from SOURCE_DATE_EPOCH, by default the
# last commit's, so the same commit stages the same bytes and writes the same zip.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
dist=$top/build/dist
stage=$dist/stage/Glimmerly
bin=build/win/bin
fail() {
    echo "make-dist: $*" >&2
    exit 1
}

version_h=build/win/generated/glimmerly/Version.h
[ -f "$version_h" ] || fail "$version_h is missing: configure and build the Windows tree (make build)"
define() { sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$version_h"; }
version=$(define GLIMMERLY_VERSION)
quad=$(define GLIMMERLY_VERSION_QUAD)
[ -n "$version" ] && [ -n "$quad" ] || fail "no version in $version_h"

epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
export SOURCE_DATE_EPOCH=${epoch:-1767225600}
zip_of() { python3 scripts/dist-files.py zip "$stage" "$1" "$SOURCE_DATE_EPOCH" Glimmerly; }

if [ "${1:-}" = --zip-to ]; then
    [ $# = 2 ] || fail "usage: make-dist.sh [--zip-to FILE]"
    [ -f "$stage/Glimmerly.exe" ] || fail "nothing staged in $stage: run make dist first"
    zip_of "$2"
    exit 0
fi
[ $# = 0 ] || fail "usage: make-dist.sh [--zip-to FILE]"

for f in Glimmerly.exe GlimmerlyDecoder.exe qrt.exe thumbs.exe Glimmerly.chm; do
    [ -f "$bin/$f" ] || fail "$bin/$f is missing: build the Windows tree (make build)"
done
[ -x build/native/bin/qrt ] || fail "build/native/bin/qrt is missing (make qrt)"
command -v makensis >/dev/null || fail "makensis is missing (GLIMMERLY_DIST=1 sh scripts/setup-deps.sh)"

# The starter library takes a minute to draw: it is drawn again only when its scripts change.
library=$dist/library
stamp=$(cat scripts/starter-library.sh scripts/starter-maps.py scripts/make-resources.py | cksum)
if [ "$(cat "$dist/library.stamp" 2>/dev/null)" != "$stamp" ] || [ ! -d "$library" ]; then
    echo "Drawing the starter library"
    rm -f "$dist/library.stamp"
    scripts/starter-library.sh "$library"
    echo "$stamp" >"$dist/library.stamp"
fi

rm -rf "$dist/stage"
mkdir -p "$stage"
# Stripped: the debug information holds build paths and is of no use to a user.
# SOURCE_DATE_EPOCH sets the header's time stamp that strip would otherwise take from the clock.
for exe in Glimmerly GlimmerlyDecoder qrt thumbs; do
    x86_64-w64-mingw32-strip -o "$stage/$exe.exe" "$bin/$exe.exe"
done
cp "$bin/Glimmerly.chm" LICENSE.txt "$stage/"
cp -R "$library/." "$stage/"

rm -f "$dist"/Glimmerly-*-setup.exe "$dist"/Glimmerly-*-portable.zip
python3 scripts/dist-files.py nsh "$stage" "$dist/files.nsh"
setup=$dist/Glimmerly-$version-setup.exe
makensis -V2 -DVERSION="$version" -DVERSION_QUAD="$quad" -DFILES_NSH="$dist/files.nsh" \
    -DOUTFILE="$setup" -DTOP="$top" installer/Glimmerly.nsi
zip=$dist/Glimmerly-$version-portable.zip
zip_of "$zip"
echo "Wrote $setup ($(du -k "$setup" | cut -f1) KB) and $zip ($(du -k "$zip" | cut -f1) KB)"
