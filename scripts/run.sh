#!/usr/bin/env bash
# Builds the Windows programs and starts the connector under Wine, as a user would try it.
# With no display, it runs on a virtual one (Xvfb), shows what the connector stored in the
# registry, and closes it again after a few seconds; with a display it runs until you close it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target KX7AutoConnector >/dev/null
exe="$root/build/win32/bin/KX7AutoConnector.exe"

export WINEPREFIX="$root/build/wineprefix-run"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making a Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

if [ -n "${DISPLAY:-}" ]; then
    echo "starting KX7AutoConnector (close its window to end)"
    wine "$exe" "$@"
    exit 0
fi

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wine "$1" "${@:2}" &
    sleep 6
    echo "KX7AutoConnector is running; its settings in the registry:"
    wine reg query "HKCU\\SOFTWARE\\Stonevault\\AutoConn" | tr -d "\r"
    wineserver -k
' run "$exe" "$@"
echo "KX7AutoConnector closed."
