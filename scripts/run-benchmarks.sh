#!/bin/bash
# `make bench`: the benchmarks under Wine on a folder of real photographs.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
pictures=$top/build/bench/pictures
"$top/scripts/bench-pictures.sh" "$pictures" 200
export WINEPREFIX=$top/build/wine-test
. "$top/scripts/wine-env.sh"
echo "=== thumbnail cache ==="
wine "$top/build/win/bin/cache_bench.exe" "Z:${pictures//\//\\}"
