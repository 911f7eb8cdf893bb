#!/bin/sh
# at_dpi.sh ARCH DPI PREFIX TEST_EXE SHOT_DIR
# Runs the display tests at DPI dots per inch: in a Wine prefix made afresh with that DPI, on a
# virtual screen of its own (large enough for the main window at 200 %), with the window frames
# drawn by Wine so that they show in the screenshots, which end up as PNG files in SHOT_DIR.
# ARCH is the build's Wine architecture, win32 or win64 (see cmake/wine-run.sh).
set -u
if [ "$1" = win64 ]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
else
    wine=wine
fi
export WINEARCH=$1
shift
if [ "${1:-}" != "--inner" ]; then
    prefix=$2
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineserver -k >/dev/null 2>&1
    rm -rf "$prefix"
    mkdir -p "$4"
    xvfb-run -a -s "-screen 0 2560x1600x24" sh "$0" "$WINEARCH" --inner "$@"
    status=$?
    wineserver -k >/dev/null 2>&1
    rm -rf "$prefix"
    exit $status
fi
shift
dpi=$1 exe=$3 shots=$4
"$wine" wineboot -i >/dev/null 2>&1
wineserver -w
# On a loaded machine a write right after the prefix's first start has been seen to go missing:
# the value is read back, and written again until it is there.
hex=$(printf '0x%x' "$dpi")
for _ in 1 2 3 4 5; do
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    "$wine" reg query 'HKCU\Control Panel\Desktop' /v LogPixels 2>/dev/null | grep -qi "$hex" && break
    sleep 1
done
rm -f "$shots"/*-"${dpi}"dpi.ppm
KX7_DPI=$dpi KX7_SHOT_DIR=$("$wine" winepath -w "$shots" 2>/dev/null) "$wine" "$exe" --gtest_color=no
status=$?
for shot in "$shots"/*-"${dpi}"dpi.ppm; do
    [ -f "$shot" ] || continue
    pnmtopng "$shot" >"${shot%.ppm}.png" && rm -f "$shot"
done
exit $status
