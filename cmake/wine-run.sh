#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]
# Runs a Windows program in the build tree's throwaway Wine prefix, never in ~/.wine. The
# prefix is made on first use; the lock keeps two parallel tests from both making it.
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
) 9>"$prefix.lock"
exec wine "$@"
