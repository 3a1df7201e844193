#!/bin/bash
# `make test`: both trees' tests under one Xvfb; ctest's summary for each tree.
# Exits non-zero when any test of either tree fails.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if [ -z "${GLIMMERLY_IN_XVFB:-}" ]; then
    export GLIMMERLY_IN_XVFB=1
    exec scripts/with-xvfb.sh "$0" "$@"
fi

. scripts/wine-env.sh

status=0
for tree in build/native build/win; do
    echo "=== $tree ==="
    log=$(mktemp)
    if ctest --test-dir "$tree" --output-on-failure -j2 "$@" >"$log" 2>&1; then
        sed -n '/tests passed\|tests failed/,$p' "$log"
    else
        cat "$log"
        status=1
    fi
    rm -f "$log"
done
# End the test prefixes' Wine sessions before the display goes away.
wineserver -k 2>/dev/null
[ -d build/wine-dpi ] && WINEPREFIX="$top/build/wine-dpi" wineserver -k 2>/dev/null
exit $status
