#!/bin/sh
# wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# Runs a Windows program in the build tree's throwaway Wine prefix, never in ~/.wine. ARCH is
# win32 or win64, the build's architecture: a 64-bit build runs under the 64-bit loader, which
# also works where the kernel cannot start 32-bit programs (the plain `wine` command picks the
# 32-bit loader whenever it is installed). The prefix is made on first use; the lock keeps two
# parallel tests from both making it.
#
# A test that CTest runs in a Wine slot (resource "wine", see cmake/Kx7Build.cmake) gets the
# slot's own prefix, PREFIX-slotN, and the slot's own virtual screen, started on first use and
# kept for the slot's next tests.
#
# wine-run.sh --stop ARCH PREFIX
# Ends the Wine servers and virtual screens of PREFIX's slots.
stop=
if [ "$1" = --stop ]; then
    stop=1
    shift
fi
arch=$1
prefix=$2
shift 2
case $arch in
    win32) wine=wine ;;
    win64)
        wine=/usr/lib/wine/wine64
        export WINELOADER=$wine
        ;;
    *)
        echo "wine-run.sh: unknown architecture '$arch'" >&2
        exit 2
        ;;
esac
export WINEARCH="$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A test that reads what its programs reported to the event log names a file for it: Wine
# writes each report to its debug output (the event's ID with the call, then each string).
if [ -n "${KX7_WINE_EVENTLOG:-}" ]; then
    export WINEDEBUG=-all,fixme+advapi,+eventlog
    exec 2>>"$KX7_WINE_EVENTLOG"
fi

if [ -n "$stop" ]; then
    for slot in "$prefix"-slot*; do
        case $slot in *.lock | *.display | *.xvfb) continue ;; esac
        [ -d "$slot" ] || continue
        WINEPREFIX="$slot" wineserver -k >/dev/null 2>&1
        [ -f "$slot.xvfb" ] && kill "$(cat "$slot.xvfb")" 2>/dev/null
        rm -f "$slot.xvfb" "$slot.display"
    done
    exit 0
fi

# CTest names the slot it gave as "id:N,slots:1".
slot=$(printf '%s' "${CTEST_RESOURCE_GROUP_0_WINE:-}" | sed -n 's/^id:\([0-9]*\),.*/\1/p')
if [ -n "$slot" ]; then
    prefix="$prefix-slot$slot"
    # The slot's screen: Xvfb writes its display number once it accepts clients. It runs in a
    # session of its own, so that it outlives this test for the slot's next one.
    (
        flock 8
        if [ ! -f "$prefix.xvfb" ] || ! kill -0 "$(cat "$prefix.xvfb")" 2>/dev/null; then
            rm -f "$prefix.display"
            # Without the lock's descriptor, which it would otherwise hold for as long as it runs.
            setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
                3>"$prefix.display" 8>&- >/dev/null 2>&1 </dev/null &
            echo $! >"$prefix.xvfb"
            waited=0
            while [ ! -s "$prefix.display" ] && [ $waited -lt 100 ]; do
                sleep 0.1
                waited=$((waited + 1))
            done
        fi
    ) 8>"$prefix.xvfb.lock"
    DISPLAY=:$(cat "$prefix.display")
    export DISPLAY
fi
export WINEPREFIX="$prefix"
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        # The Wine server that this starts outlives the lock: it must not hold its descriptor.
        "$wine" wineboot -i >/dev/null 2>&1 9>&-
        wineserver -w 9>&-
    fi
) 9>"$prefix.lock"
exec "$wine" "$@"
