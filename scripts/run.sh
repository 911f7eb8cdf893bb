#!/usr/bin/env bash
# Shows the connector doing its job on simulated KX7 drives, under Wine.
#
# Builds the simulation build of the connector (the shipped program with its device seams bound
# to a simulated USB bus), makes a fresh Wine prefix, pairs this PC with one simulated drive and
# another PC with a second one, starts the connector (on your display, or on a virtual one when
# there is none), plugs both drives in and tells what happens, takes a screenshot, and ends the
# program through its Exit command.
#
#   bash scripts/run.sh          the demonstration, then Exit
#   bash scripts/run.sh --keep   the same, but the connector keeps running for your own
#                                experiments with kx7sim.exe (see sim/README.md)
#   KX7_DEMO_DPI=144 bash scripts/run.sh   the same on a display scaled to 144 DPI (150 %);
#                                the README's pictures are made this way at 96, 144 and 192
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source scripts/wine-select.sh

if [ "${1:-}" != "--inner" ]; then
    keep=0
    [ "${1:-}" = "--keep" ] && keep=1
    bash scripts/setup.sh
    echo "building the simulation build of the connector and its tools..."
    cmake --preset "$KX7_WINE_PRESET" >/dev/null
    cmake --build --preset "$KX7_WINE_PRESET" -j2 --target KX7AutoConnectorSim kx7sim kx7pair \
        >/dev/null
    export WINEPREFIX="$root/build/wineprefix-demo"
    export WINEARCH="$KX7_WINE_PRESET" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    echo "making a fresh Wine prefix in $WINEPREFIX..."
    wineboot -i >/dev/null 2>&1
    wineserver -w
    if [ -n "${KX7_DEMO_DPI:-}" ]; then
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$KX7_DEMO_DPI" \
            /f >/dev/null 2>&1
        wineserver -w
    fi
    if [ -n "${DISPLAY:-}" ]; then
        exec bash "$0" --inner "$keep" own
    fi
    # A virtual display has no window manager: let Wine draw the window frames itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    # No display: a virtual one, with its own X authority so it works as root or not.
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inner "$keep" virtual
fi

keep=$2
display_kind=$3
bin="$root/build/$KX7_WINE_PRESET/bin"
shot="$root/build/demo-window.png"
sim() { wine "$bin/kx7sim.exe" "$@" 2>/dev/null | tr -d '\r'; }
now_ms() { date +%s%3N; }
plug_ms=0
say() { printf '[%5.1f s] %s\n' "$(awk "BEGIN { print ($(now_ms) - $plug_ms) / 1000 }")" "$*"; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }

# The log edit's lines, one per output line.
log_lines() { sim window | sed -n 's/.* log=//p' | sed 's/ | /\n/g' | sed '/^$/d'; }

# Prints each new line of the connector's log until one contains $1 (or $2 ms pass).
follow_log_until() {
    local want=$1 limit=$2 seen=${3:-0} start
    start=$(now_ms)
    while [ $(($(now_ms) - start)) -lt "$limit" ]; do
        mapfile -t lines < <(log_lines)
        while [ "$seen" -lt "${#lines[@]}" ]; do
            say "log: ${lines[$seen]}"
            seen=$((seen + 1))
        done
        for line in "${lines[@]}"; do
            case $line in *"$want"*) echo "$seen" >/tmp/kx7demo.seen; return 0 ;; esac
        done
        sleep 0.2
    done
    echo "$seen" >/tmp/kx7demo.seen
    return 1
}

echo "starting the connector (simulation build) ..."
# What Wine says about the program, kept for when it does not come up.
wine_log="$root/build/demo-connector.log"
wine "$bin/sim/KX7AutoConnector.exe" >"$wine_log" 2>&1 &
connector=$!

# The connector is up once its window is there; a program that dies or never shows its window
# is said to have done so, with Wine's last words about it.
not_started() {
    echo "the connector (build/$KX7_WINE_PRESET/bin/sim/KX7AutoConnector.exe) $1." >&2
    echo "Wine's last lines about it (all of them in $wine_log):" >&2
    tail -n 20 "$wine_log" | tr -d '\r' | sed 's/^/    /' >&2
    wineserver -k >/dev/null 2>&1 || true
    exit 1
}
started_ms=$(now_ms)
until sim window >/dev/null; do
    if ! kill -0 "$connector" 2>/dev/null; then
        code=0
        wait "$connector" || code=$?
        not_started "ended before it showed its window (exit code $code)"
    fi
    # A crashed program lingers under Wine's debugger; its first words say so.
    if grep -q "^wine: Unhandled" "$wine_log"; then
        not_started "crashed"
    fi
    if [ $(($(now_ms) - started_ms)) -ge 30000 ]; then
        not_started "showed no window within 30 s"
    fi
    sleep 0.2
done

sim add paired id=KX7DEMO000000001 serial=DEMO00000001 pid=1180 >/dev/null
sim add stranger id=KX7OTHER00000002 serial=OTHR00000002 pid=1181 >/dev/null
echo "pairing this PC with the first drive (as the registration program would):"
wine "$bin/kx7pair.exe" this paired KX7DEMO000000001 2>&1 | tr -d '\r' | sed 's/^/    /'
echo "pairing the second drive with another PC, ANOTHER-PC:"
wine "$bin/kx7pair.exe" other stranger KX7OTHER00000002 ANOTHER-PC 2>&1 | tr -d '\r' |
    sed 's/^/    /'

# The window shows for 2 s, then goes to the tray; its first pass finds no drive.
for _ in $(seq 1 100); do
    [ "$(sim window | field visible)" = "0" ] && break
    sleep 0.2
done
interval=$(wine reg query 'HKCU\SOFTWARE\Stonevault\AutoConn' /v Interval 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_DWORD[[:space:]]*0x\([0-9a-fA-F]*\).*/\1/p')
interval=$((16#${interval:-a}))
echo "the connector is in the tray; it waits $interval ticks of 500 ms after a drive arrives."
sleep $((interval / 2 + 1))

echo
echo "1. A KX7 paired with this PC is plugged in."
plug_ms=$(now_ms)
sim plug paired >/dev/null
follow_log_until "Adding USB\\" 15000 0 || true
say "serial shown: $(sim window | field serial)"
while [ "$(sim status paired | field auth)" = "0" ] && [ $(($(now_ms) - plug_ms)) -lt 60000 ]; do
    sleep 0.1
done
status=$(sim status paired)
if [ "$(echo "$status" | field unlocked)" = "1" ]; then
    say "the pass ran: the drive received the authentication packet and accepted it"
else
    say "the drive did not accept the packet: $status"
fi
seen=$(cat /tmp/kx7demo.seen)
if follow_log_until "Adding USBSTOR\\DISK" 20000 "$seen"; then
    say "the drive unlocked: its disk has arrived"
fi

echo
echo "2. A KX7 paired with another PC is plugged in."
plug_ms=$(now_ms)
sim plug stranger >/dev/null
seen=$(cat /tmp/kx7demo.seen)
follow_log_until "Adding USB\\VID_6B2F&PID_1181" 15000 "$seen" || true
box=$(sim wait-box 60000)
say "the drive refused; the user hears a beep and sees this box:"
echo "          caption: $(echo "$box" | sed -n 's/^ok \[\([^]]*\)\].*/\1/p')"
echo "          text:    $(echo "$box" | sed -n 's/^ok \[[^]]*\] //p')"
say "log now reads: $(log_lines | tr '\n' ' ')"
sim press OK >/dev/null

echo
echo "3. The window, opened from the tray menu:"
sim menu open >/dev/null
for _ in $(seq 1 100); do
    [ "$(sim window | field visible)" = "1" ] && break
    sleep 0.2
done
sleep 1
# The window's rectangle on the screen: left,top,width,height.
IFS=, read -r left top width height <<<"$(sim window | field rect)"
if xwd -root -silent 2>/dev/null | xwdtopnm 2>/dev/null |
    pnmcut -left "$((left > 0 ? left : 0))" -top "$((top > 0 ? top : 0))" -width "$width" \
        -height "$height" 2>/dev/null | pnmtopng >"$shot" 2>/dev/null; then
    echo "   screenshot written to $shot"
else
    echo "   (no screenshot: xwd, xwdtopnm or pnmtopng failed)"
fi

if [ "$keep" = "1" ]; then
    # Another shell needs the prefix and the display, and for a virtual display also its X
    # authority file, which xvfb-run makes anew for every run.
    env_line="WINEPREFIX=$WINEPREFIX WINEDEBUG=-all DISPLAY=$DISPLAY"
    winecmd=wine
    kx7sim="build/$KX7_WINE_PRESET/bin/kx7sim.exe"
    [ "$KX7_WINE_PRESET" = "win64" ] && winecmd=/usr/lib/wine/wine64
    [ -n "${XAUTHORITY:-}" ] && env_line="$env_line XAUTHORITY=$XAUTHORITY"
    echo
    echo "The connector keeps running, on display $DISPLAY${XAUTHORITY:+ (X authority file $XAUTHORITY)}."
    echo "From another shell in $root:"
    echo "    export $env_line"
    echo "    $winecmd $kx7sim help              (what it can do)"
    echo "    $winecmd $kx7sim unplug paired     (then plug paired, status paired, ...)"
    echo "    xwd -root -silent | xwdtopnm | pnmtopng >screen.png   (a screenshot of the display)"
    echo "    $winecmd $kx7sim menu exit; $winecmd $kx7sim press OK"
    if [ "$display_kind" = "virtual" ]; then
        echo "The display is a virtual one: it and its X authority file go away when the connector ends."
    fi
    wait "$connector"
    exit 0
fi

echo
echo "4. Exit from the tray menu, confirmed with OK."
sim menu exit >/dev/null
box=$(sim wait-box 20000)
echo "   the box asks: $(echo "$box" | sed -n 's/^ok \[[^]]*\] //p')"
sim press OK >/dev/null
for _ in $(seq 1 150); do
    kill -0 "$connector" 2>/dev/null || break
    sleep 0.2
done
if kill -0 "$connector" 2>/dev/null; then
    echo "   the connector did not end"
    wineserver -k
    exit 1
fi
wait "$connector" || true
echo "   the connector has ended."
wineserver -w
