#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test: native, native
# under ASan+UBSan, native under ThreadSanitizer, a short fixed run of every fuzz target (clang,
# libFuzzer, ASan+UBSan), and the Win32 and end-to-end tests under Wine with Xvfb.
# Prints one summary at the end; exits non-zero if anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

jobs=2
summary=()
total_pass=0
total_fail=0
status=0

# run_suite NAME PRESET [wrapper...]
run_suite() {
    local name=$1 preset=$2
    shift 2
    local log="$root/build/$name-ctest.log"
    mkdir -p "$root/build"
    echo "=== $name: configure and build"
    if ! cmake --preset "$preset" >"$root/build/$name-configure.log" 2>&1; then
        cat "$root/build/$name-configure.log"
        summary+=("$name: configure FAILED")
        status=1
        return
    fi
    if ! cmake --build --preset "$preset" -j"$jobs" >"$root/build/$name-build.log" 2>&1; then
        grep -E 'error|Error' -A5 "$root/build/$name-build.log" | head -60
        summary+=("$name: build FAILED")
        status=1
        return
    fi
    echo "=== $name: test"
    "$@" ctest --preset "$preset" -j"$jobs" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line pass=0 fail=0
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [ -n "$line" ]; then
        local all
        fail=$(sed -E 's/.*passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
        all=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
        pass=$((all - fail))
    fi
    if [ "$rc" -ne 0 ] || [ -z "$line" ]; then
        status=1
        [ "$fail" -eq 0 ] && fail=1
    fi
    total_pass=$((total_pass + pass))
    total_fail=$((total_fail + fail))
    summary+=("$name: $pass passed, $fail failed")
}

run_suite native native
run_suite native-asan native-asan
run_suite native-tsan native-tsan
run_suite fuzz fuzz

# The Wine prefix is made fresh for every run, inside the build tree.
wine_prefix="$root/build/win32/wineprefix"
rm -rf "$wine_prefix" "$wine_prefix.lock"
xvfb=()
if [ -z "${DISPLAY:-}" ]; then
    xvfb=(xvfb-run -a -s "-screen 0 1024x768x24")
fi
run_suite win32 win32 "${xvfb[@]}"
WINEPREFIX="$wine_prefix" wineserver -k >/dev/null 2>&1 || true

echo
echo "===================== summary ====================="
for line in "${summary[@]}"; do
    echo "  $line"
done
echo "all: $total_pass passed, $total_fail failed"
exit $status
