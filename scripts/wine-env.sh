# Sourced by the scripts that run Windows programs: a Wine prefix of our own
# inside the build folder, a Japanese locale (ANSI code page 932, as on the
# host's Windows), and a wineserver kept alive for the whole run so that each
# program starts in well under a second.
WINE=/usr/lib/wine/wine64
export WINEPREFIX="$ROOT/build/wine-prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export LC_ALL=ja_JP.UTF-8

# Windows programs need a display: Wine's null graphics driver when nobody
# looks at the windows (tests), a real X server when a screenshot is taken.
wine_prepare_prefix() {
    if [ ! -f "$WINEPREFIX/.roundcorner-ready" ]; then
        mkdir -p "$WINEPREFIX"
        DISPLAY= "$WINE" wineboot -i >/dev/null 2>&1 || true
        "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.roundcorner-ready"
    fi
}

wine_start_server() {
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true' EXIT
}
