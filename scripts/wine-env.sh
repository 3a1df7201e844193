# Sourced: the project-local Wine environment. WINEPREFIX may be set by the caller
# (tests and `make run` use separate prefixes so a test run never disturbs the demo).
# BASH_SOURCE names this file when sourced from bash; from sh, callers live in scripts/.
top=$(cd "$(dirname "${BASH_SOURCE:-$0}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$top/build/wine-test}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/.glimmerly-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    if [ "$WINEPREFIX" = "$top/build/wine-test" ]; then
        # Xvfb has no window manager: Wine would wait two seconds for one whenever a managed
        # top-level window goes away. Test windows are left unmanaged.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    fi
    wineserver --wait || true
    : > "$WINEPREFIX/.glimmerly-ready"
fi
