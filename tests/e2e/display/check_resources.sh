#!/bin/sh
# check_resources.sh EXE
# Reads the icon and the manifest back from a built program. Icon 128 must be the program's only
# icon group (Explorer shows the first) and hold every size Windows asks for, each with 8-bit
# alpha; the sizes of the notification area must be drawn on the pixel grid (no pixel half
# transparent), not scaled down from the large drawing. The manifest must be well-formed and
# declare per-monitor v2 DPI awareness, with the system's scale as the fallback.
set -u
exe=$1
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
say_fail() {
    echo "FAIL: $*"
    fail=1
}

groups=$(wrestool -l --type=14 "$exe" | sed -n 's/.*--name=\([^ ]*\).*/\1/p' | tr '\n' ' ')
[ "$groups" = "128 " ] || say_fail "icon groups are '$groups', not just 128"
wrestool -x --type=14 --name=128 "$exe" >"$work/icon.ico" 2>/dev/null
list=$(icotool -l "$work/icon.ico" 2>&1)
for size in 16 20 24 32 48 64 256; do
    if ! printf '%s\n' "$list" | grep -q -- "--width=$size --height=$size --bit-depth=32 "; then
        say_fail "icon 128 has no 32-bit $size x $size image"
    fi
done
for size in 16 20 24; do
    icotool -x --width=$size --height=$size -o "$work/small.png" "$work/icon.ico" 2>/dev/null
    # Alpha values in use, other than fully transparent and fully opaque.
    partial=$(pngtopam -alpha "$work/small.png" 2>/dev/null | pgmhist -machine 2>/dev/null |
        awk '$2 > 0 && $1 != 0 && $1 != 255' | wc -l)
    opaque=$(pngtopam -alpha "$work/small.png" 2>/dev/null | pgmhist -machine 2>/dev/null |
        awk '$1 == 255 { print $2 }')
    if [ "$partial" -ne 0 ] || [ "${opaque:-0}" -eq 0 ]; then
        say_fail "the $size x $size image is not drawn on the pixel grid"
    fi
done

wrestool -x --raw --type=24 --name=1 "$exe" >"$work/manifest.xml" 2>/dev/null
if ! xmllint --noout "$work/manifest.xml" 2>/dev/null; then
    say_fail "the manifest is not well-formed XML"
fi
settings="/*[local-name()='assembly']/*[local-name()='application' and
    namespace-uri()='urn:schemas-microsoft-com:asm.v3']/*[local-name()='windowsSettings']"
value() {
    xmllint --xpath "string($settings/*[local-name()='$1' and namespace-uri()='$2'])" \
        "$work/manifest.xml" 2>/dev/null
}
awareness=$(value dpiAwareness http://schemas.microsoft.com/SMI/2016/WindowsSettings)
[ "$awareness" = "PerMonitorV2, System" ] || say_fail "dpiAwareness is '$awareness'"
aware=$(value dpiAware http://schemas.microsoft.com/SMI/2005/WindowsSettings)
[ "$aware" = "true" ] || say_fail "dpiAware is '$aware'"

[ $fail -eq 0 ] && echo "icon and manifest checks passed for $exe"
exit $fail
