#!/bin/bash
# Runs a Windows program under Wine with the screen at another DPI, in a Wine prefix of its own
# (build/wine-dpi, made once like the test prefix), so that no test in the shared test prefix
# ever sees that DPI. Runs in that prefix must take turns (ctest: RESOURCE_LOCK wine_dpi).
# The program finds the DPI in GLIMMERLY_TEST_DPI.
# Usage: at-dpi.sh DPI PROGRAM [ARG...]
set -eu
dpi=$1
shift
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="$top/build/wine-dpi"
. "$top/scripts/wine-env.sh"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
export GLIMMERLY_TEST_DPI=$dpi
exec wine "$@"
