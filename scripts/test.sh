#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test:
#   native  - the portable AVI library and tools, under AddressSanitizer and UBSan
#   x86_64  - the program's tests under wine64, one CTest test per case
#   i686    - the same tests under 32-bit Wine, one CTest test per test program
# Ends with one line "N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${VORLUX_BUILD_ROOT:-$root/build}
export VORLUX_BUILD_ROOT=$build
started=$(date +%s)

scripts/setup.sh || { echo "test.sh: setup failed" >&2; exit 1; }
scripts/enable-i386.sh || { echo "test.sh: 32-bit Wine cannot run here" >&2; exit 1; }
scripts/check-layers.sh || { echo "test.sh: an include crosses the folders' allowed direction" >&2; exit 1; }

for target in native x86_64 i686; do
    echo "== build $target"
    mkdir -p "$build"
    scripts/build.sh "$target" >"$build/$target.build.log" 2>&1 || {
        tail -50 "$build/$target.build.log"; echo "test.sh: build of $target failed" >&2; exit 1; }
done

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for t in x86_64 i686 clean base; do WINEPREFIX=$build/wineprefix-$t /usr/lib/wine/wineserver64 -k 2>/dev/null; done
    [ -n "${VORLUX_TEST_CLEANUP:-}" ] && eval "$VORLUX_TEST_CLEANUP"
}
trap cleanup EXIT

# One Xvfb per depth and per Windows target, so the two targets' window tests never meet.
next_display=90
start_xvfb() {  # depth -> sets display (not in a subshell: the server must be noted for cleanup)
    local depth=$1
    while [ -e "/tmp/.X${next_display}-lock" ] || [ -e "/tmp/.X11-unix/X${next_display}" ]; do
        next_display=$((next_display + 1))
    done
    display=":$next_display"
    next_display=$((next_display + 1))
    Xvfb "$display" -screen 0 1024x768x"$depth" -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
}
declare -A displays
for target in x86_64 i686; do
    for depth in 24 16 8; do
        start_xvfb $depth
        displays[$target.$depth]=$display
    done
done

# Optional environments that tests rely on (sound sources and the like) hook in here.
for hook in scripts/test-env.d/*.sh; do
    [ -f "$hook" ] && source "$hook"
done

# A prefix per target: the emulated i686 processes are slow to answer their Wine server, and
# must not hold up the x86_64 ones. Each prefix gets a server that stays up for the whole run:
# Wine starts servers through Debian's wrapper, which gives them no persistence, so that every
# test process would start a new one and boot the prefix again (seconds a case). The server must
# start before anything else in the prefix (it needs the prefix's directory), and the prefix's
# background services must not inherit CTest's pipes, so both start before CTest.
export WINEDEBUG=-all VORLUX_WINE_OUTPUT_AFTER=1
server=/usr/lib/wine/wineserver64
boot_prefix() {  # target
    (export WINEPREFIX=$build/wineprefix-$1 DISPLAY=${displays[$1.24]}
     mkdir -p "$WINEPREFIX"; $server -p; /usr/lib/wine/wine64 wineboot -i) </dev/null >/dev/null 2>&1
}

run_ctest() {  # target -> writes build/TARGET.ctest.log
    local target=$1
    (
        if [ "$target" != native ]; then
            export WINEPREFIX=$build/wineprefix-$target
            export DISPLAY=${displays[$target.24]} VORLUX_DISPLAY_24=${displays[$target.24]}
            export VORLUX_DISPLAY_16=${displays[$target.16]} VORLUX_DISPLAY_8=${displays[$target.8]}
        fi
        cd "$build/$target" && ctest --output-on-failure --timeout 900 </dev/null
    ) >"$build/$target.ctest.log" 2>&1
}

# Every prefix is a copy of one booted once: a boot takes minutes, as its 32-bit half runs under
# the emulator. The x86_64 and i686 prefixes are kept between runs; the whole-program runs start
# from a copy of the pristine one instead of booting their own. The boot's server ends (and saves
# the registry) before anything copies the prefix.
base_prefix=$build/wineprefix-base
if [ ! -f "$base_prefix/system.reg" ]; then
    rm -rf "$base_prefix"
    (export WINEPREFIX=$base_prefix DISPLAY=${displays[x86_64.24]}
     /usr/lib/wine/wine64 wineboot -i; timeout 600 $server -w) </dev/null >/dev/null 2>&1
fi
for prefix in x86_64 i686; do
    if [ ! -f "$build/wineprefix-$prefix/system.reg" ] && [ -f "$base_prefix/system.reg" ]; then
        rm -rf "$build/wineprefix-$prefix"
        cp -a "$base_prefix" "$build/wineprefix-$prefix"
    fi
done
rm -rf "$build/wineprefix-clean"
cp -a "$base_prefix" "$build/wineprefix-clean" 2>/dev/null && export VORLUX_CLEAN_PREFIX=$build/wineprefix-clean

# The emulated i686 run is slow and single-threaded: it runs beside everything else.
(boot_prefix i686; run_ctest i686) &
i686_pid=$!
boot_prefix x86_64

run_ctest native
run_ctest x86_64
wait $i686_pid

passed=0
failed=0
for target in native x86_64 i686; do
    log=$build/$target.ctest.log
    echo "== $target"
    grep -E '(Failed|\*\*\*|Not Run|Exception|Timeout)' "$log" | grep -v '^[[:space:]]*$' | head -40
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$summary" ]; then
        summary=$(grep -E '^No tests were found' "$log" | tail -1)
        echo "${summary:-no CTest summary}"
        tail -20 "$log"
        failed=$((failed + 1))
        continue
    fi
    echo "$summary"
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done
echo "test.sh: $(( $(date +%s) - started )) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
