#!/bin/sh
# check_pe.sh OBJDUMP EXE [requireAdministrator|asInvoker]
# Checks what a shipped program must be: PE32 for i386, GUI subsystem, ASLR and DEP on, only
# system DLLs imported, and a manifest with the expected execution level and version resource.
set -u
objdump=$1
exe=$2
level=${3:-requireAdministrator}
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
check 'Subsystem[[:space:]]+00000002' 'GUI subsystem'
dll=$(printf '%s\n' "$headers" | sed -n 's/.*DllCharacteristics[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
if [ -z "$dll" ] || [ $((0x$dll & 0x40)) -eq 0 ] || [ $((0x$dll & 0x100)) -eq 0 ]; then
    echo "FAIL: DllCharacteristics $dll lacks DYNAMIC_BASE (0x40) or NX_COMPAT (0x100)"
    fail=1
fi
for name in $(printf '%s\n' "$headers" | sed -n 's/.*DLL Name: //p'); do
    case $(printf '%s' "$name" | tr 'a-z' 'A-Z') in
        KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | SHELL32.DLL | COMCTL32.DLL | MSVCRT.DLL | \
            SETUPAPI.DLL | IPHLPAPI.DLL | GDI32.DLL | OLE32.DLL | OLEAUT32.DLL) ;;
        *) echo "FAIL: imports non-system DLL $name"; fail=1 ;;
    esac
done
# The manifest and the version resource are stored as text inside the resource section.
if ! grep -aq "level=\"$level\" uiAccess=\"false\"" "$exe"; then
    echo "FAIL: manifest does not request $level"
    fail=1
fi
if ! grep -aq 'Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$exe"; then
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
