# Sourced: the project-local Wine environment. WINEPREFIX may be set by the caller
# (tests and `make run` use separate prefixes so a test run never disturbs the demo).
# BASH_SOURCE names this file when sourced from bash; from sh, callers live in scripts/.
top=$(cd "$(dirname "${BASH_SOURCE:-$0}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$top/build/wine-test}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEARCH=win64

# A prefix keeps what Wine found when it was made (fonts above all, which fix every dialog's
# metrics), so it is made anew whenever the set-up or the Wine packages it was made with changed.
glimmerly_prefix_stamp() {
    cat "$top/scripts/setup-deps.sh" "$top/scripts/wine-env.sh"
    dpkg-query -W wine wine64 fonts-wine fonts-liberation 2>/dev/null
}
stamp=$(glimmerly_prefix_stamp | cksum)
if [ "$(cat "$WINEPREFIX/.glimmerly-ready" 2>/dev/null)" != "$stamp" ]; then
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    if [ "$WINEPREFIX" = "$top/build/wine-test" ] || [ "$WINEPREFIX" = "$top/build/wine-dpi" ]; then
        # Xvfb has no window manager: Wine would wait two seconds for one whenever a managed
        # top-level window goes away. Test windows are left unmanaged.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    fi
    # Wine finds the bitmap fonts of fonts-wine through the prefix's Fonts folder but not its
    # TrueType Marlett, which draws the caption buttons (without it they read "0 2 r").
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    wineserver --wait || true
    echo "$stamp" > "$WINEPREFIX/.glimmerly-ready"
fi
