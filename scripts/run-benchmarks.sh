#!/bin/bash
# `make bench`: the benchmarks under Wine (and Xvfb) on folders of real photographs.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${GLIMMERLY_IN_XVFB:-}" ]; then
    export GLIMMERLY_IN_XVFB=1
    exec "$top/scripts/with-xvfb.sh" "$0" "$@"
fi
pictures=$top/build/bench/pictures
many=$top/build/bench/pictures-1000
"$top/scripts/bench-pictures.sh" "$pictures" 200
"$top/scripts/bench-pictures.sh" "$many" 1000
export WINEPREFIX=$top/build/wine-test
. "$top/scripts/wine-env.sh"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
echo "=== thumbnail cache, 200 photographs ==="
wine "$top/build/win/bin/cache_bench.exe" "$(winpath "$pictures")"
echo "=== thumbnail control, 1000 photographs ==="
wine "$top/build/win/bin/thumblist_bench.exe" "$(winpath "$many")"
wineserver -k 2>/dev/null || true
