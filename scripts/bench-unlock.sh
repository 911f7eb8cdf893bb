#!/usr/bin/env bash
# Measures, on the simulation build under Wine, the time from a paired drive's USB arrival to its
# unlocked disk's arrival, plug after plug, with "Interval" at its default (10 ticks) and at 0.
# The times come from the notifications as the simulated system delivered them to the window.
#
#   bash scripts/bench-unlock.sh [PLUGS]      (default 5 plugs per setting)
#
# A benchmark, not a test: it prints figures and judges nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
plugs=${1:-5}
source scripts/wine-select.sh

if [ "${2:-}" != "--inner" ]; then
    bash scripts/setup.sh
    cmake --preset "$KX7_WINE_PRESET" >/dev/null
    cmake --build --preset "$KX7_WINE_PRESET" -j2 --target KX7AutoConnectorSim kx7sim kx7pair \
        >/dev/null
    export WINEPREFIX="$root/build/wineprefix-bench"
    export WINEARCH="$KX7_WINE_PRESET" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    if [ -n "${DISPLAY:-}" ]; then
        exec bash "$0" "$plugs" --inner
    fi
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$plugs" --inner
fi

bin="$root/build/$KX7_WINE_PRESET/bin"
sim() { wine "$bin/kx7sim.exe" "$@" 2>/dev/null | tr -d '\r'; }

# Milliseconds of the notifications delivered so far whose text contains $1, one per line.
event_times() { sim events | sed 's/^ok //' | tr ';' '\n' | grep -F -- "$1" | cut -d' ' -f1; }

run_setting() {
    local interval=$1
    wine reg add 'HKCU\SOFTWARE\Stonevault\AutoConn' /v Interval /t REG_DWORD /d "$interval" /f \
        >/dev/null 2>&1
    wine "$bin/sim/KX7AutoConnector.exe" >/dev/null 2>&1 &
    local connector=$!
    sim add bench id=KX7BENCH00000001 serial=BENCH0001 >/dev/null
    wine "$bin/kx7pair.exe" this bench KX7BENCH00000001 >/dev/null 2>&1
    sleep $((interval / 2 + 4))
    local floor=$((interval > 0 ? (interval - 1) * 500 : 0)) ceiling=$((interval * 500))
    echo "Interval = $interval: the settle wait is $floor to $ceiling ms (by the phase of the 500 ms"
    echo "tick); the worker waits 1000 ms more after each accepted packet before it serves the next"
    echo "drive, which this figure does not include."
    local sum=0
    for i in $(seq 1 "$plugs"); do
        sim plug bench >/dev/null
        for _ in $(seq 1 300); do
            [ "$(event_times '+ \\?\USBSTOR#Disk' | wc -l)" -ge "$i" ] && break
            sleep 0.1
        done
        local usb disk
        usb=$(event_times '+ \\?\USB#VID' | sed -n "${i}p")
        disk=$(event_times '+ \\?\USBSTOR#Disk' | sed -n "${i}p")
        if [ -z "$disk" ]; then
            echo "  plug $i: no disk arrival within 30 s"
        else
            echo "  plug $i: USB arrival to disk arrival $((disk - usb)) ms"
            sum=$((sum + disk - usb))
        fi
        sim unplug bench >/dev/null
        sleep 2
    done
    echo "  mean $((sum / plugs)) ms"
    sim menu exit >/dev/null
    sim wait-box 10000 >/dev/null
    sim press OK >/dev/null
    wait "$connector" || true
    wineserver -w
}

run_setting 10
run_setting 0
