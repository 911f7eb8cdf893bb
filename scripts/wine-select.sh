# Sourced by the scripts that run the simulation build by hand (run.sh, bench-unlock.sh).
# The program shipped is 32-bit. Where the kernel cannot start 32-bit programs (and so no 32-bit
# Wine), they run the x86_64 build of the same sources under the 64-bit loader. Sets
# KX7_WINE_PRESET (kept for the scripts' own re-runs of themselves) and the wine and wineboot
# commands to use.
if [ -z "${KX7_WINE_PRESET:-}" ]; then
    if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        export KX7_WINE_PRESET=win32
    else
        export KX7_WINE_PRESET=win64
    fi
fi
if [ "$KX7_WINE_PRESET" = "win64" ]; then
    export WINELOADER=/usr/lib/wine/wine64
    wine() { /usr/lib/wine/wine64 "$@"; }
fi
wineboot() { wine wineboot "$@"; }
