#!/bin/sh
# check_pe.sh OBJDUMP EXE [requireAdministrator|asInvoker] [gui|console]
# Checks what a shipped program must be: PE32 for i386, GUI (or console) subsystem, ASLR and DEP
# on, only known DLLs imported, and a manifest with the expected execution level and version
# resource.
set -u
objdump=$1
exe=$2
level=${3:-requireAdministrator}
subsystem=${4:-gui}
fail=0
headers=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
check() {
    if ! printf '%s\n' "$headers" | grep -Eq "$1"; then
        echo "FAIL: $2"
        fail=1
    fi
}
check 'file format pei-i386' 'PE32 for i386'
check 'Magic[[:space:]]+010b' 'PE32 optional header'
if [ "$subsystem" = console ]; then
    check 'Subsystem[[:space:]]+00000003' 'console subsystem'
else
    check 'Subsystem[[:space:]]+00000002' 'GUI subsystem'
fi
dll=$(printf '%s\n' "$headers" | sed -n 's/.*DllCharacteristics[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
if [ -z "$dll" ] || [ $((0x$dll & 0x40)) -eq 0 ] || [ $((0x$dll & 0x100)) -eq 0 ]; then
    echo "FAIL: DllCharacteristics $dll lacks DYNAMIC_BASE (0x40) or NX_COMPAT (0x100)"
    fail=1
fi
# The programs run as administrator, and a DLL imported by name is looked for in the program's
# folder first unless Windows always takes it from System32 (a known DLL). Only the DLLs known on
# Windows XP, 7 and 10 alike may be imported (docs/dll-loading.md); any other is loaded from
# System32 at run time. COMCTL32 is not a known DLL: it comes from the side-by-side store through
# the manifest's Common Controls 6 dependency, checked below.
comctl=0
for name in $(printf '%s\n' "$headers" | sed -n 's/.*DLL Name: //p'); do
    case $(printf '%s' "$name" | tr 'a-z' 'A-Z') in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | ADVAPI32.DLL | SHELL32.DLL | OLE32.DLL | \
            OLEAUT32.DLL | MSVCRT.DLL) ;;
        COMCTL32.DLL) comctl=1 ;;
        *) echo "FAIL: imports $name, which is not a known DLL on every supported Windows"; fail=1 ;;
    esac
done
# The manifest and the version resource are stored as text inside the resource section.
if ! grep -aq "level=\"$level\" uiAccess=\"false\"" "$exe"; then
    echo "FAIL: manifest does not request $level"
    fail=1
fi
common_controls='name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="x86" publicKeyToken="6595b64144ccf1df"'
if { [ "$subsystem" = gui ] || [ $comctl -eq 1 ]; } && ! grep -aq "$common_controls" "$exe"; then
    echo "FAIL: manifest lacks the Common Controls 6.0.0.0 dependency"
    fail=1
fi
# The version resource's strings are UTF-16; with the zero bytes dropped they read as ASCII.
if ! tr -d '\000' <"$exe" | grep -aq 'FileVersion2\.0\.5\.3'; then
    echo "FAIL: no FileVersion 2.0.5.3 in the version resource"
    fail=1
fi
[ $fail -eq 0 ] && echo "PE checks passed for $exe"
exit $fail
