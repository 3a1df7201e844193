#!/bin/bash
# `make run`: starts Glimmerly under Wine with a demo library beside the executable.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
exe=$top/build/win/bin/Glimmerly.exe
if [ ! -f "$exe" ]; then
    echo "Glimmerly's dialog is not built yet; for now the tools are ready:"
    echo "  build/win/bin/qrt.exe (under Wine) and build/native/bin/qrt"
    exit 0
fi
export WINEPREFIX=$top/build/wine-run
. "$top/scripts/wine-env.sh"
exec wine "$exe"
