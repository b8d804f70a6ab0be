#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test:
#   native  - the portable AVI library and tools, under AddressSanitizer and UBSan
#   x86_64  - the program's tests under wine64, one CTest test per case
#   i686    - the same tests under 32-bit Wine, in one test program
# Ends with each target's CTest summary and one line "N passed, M failed". A set-up step that
# fails stops the run at once and says which step it was.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib.sh
VORLUX_SCRIPT=test.sh
build=${VORLUX_BUILD_ROOT:-$root/build}
export VORLUX_BUILD_ROOT=$build
started=$(date +%s)
mkdir -p "$build" || die "cannot make the build tree $build"

scripts/setup.sh || die "installing the packages failed"
scripts/enable-i386.sh || die "32-bit Wine cannot run here"
scripts/check-layers.sh || die "an include crosses the folders' allowed direction"

cleanup() {
    local pid t
    for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
    for t in x86_64 i686 clean base; do
        WINEPREFIX=$build/wineprefix-$t "$VORLUX_WINESERVER" -k 2>/dev/null || true
    done
    vorlux_stop_xvfbs
    if [ -n "${VORLUX_TEST_CLEANUP:-}" ]; then eval "$VORLUX_TEST_CLEANUP" || true; fi
}
background=()
trap cleanup EXIT

# One Xvfb per depth and per Windows target, so the two targets' window tests never meet.
declare -A displays
for target in x86_64 i686; do
    for depth in 24 16 8; do
        vorlux_start_xvfb "$depth"
        displays[$target.$depth]=$VORLUX_XVFB
    done
done

# Every prefix is a copy of one booted once: a boot takes minutes, as its 32-bit half runs under
# the emulator on one core, so it goes beside the builds. The x86_64 and i686 prefixes are kept
# between runs; the whole-program runs start from a copy of the pristine one instead of booting
# their own. The boot's server ends (and saves the registry) before anything copies the prefix.
base_prefix=$build/wineprefix-base
boot=""
# A prefix without its 32-bit half (syswow64) was booted where 32-bit programs could not run.
if [ ! -f "$base_prefix/system.reg" ] || [ ! -d "$base_prefix/drive_c/windows/syswow64" ]; then
    echo "== boot the Wine prefix, beside the builds"
    rm -rf "$base_prefix"
    (export WINEPREFIX=$base_prefix DISPLAY=${displays[x86_64.24]} WINEDEBUG=-all
     vorlux_boot_prefix && vorlux_stop_prefix) &
    boot=$!
    background+=("$boot")
fi

# The i686 run needs its one test program and the program its whole-program check starts; the
# rest of the tree (benchmarks, tools, demos) builds the same code as x86_64 does.
declare -A build_targets=([i686]="all_tests vorlux")
for target in native x86_64 i686; do
    echo "== build $target"
    VORLUX_BUILD_TARGETS=${build_targets[$target]:-} scripts/build.sh "$target" >"$build/$target.build.log" 2>&1 || {
        tail -50 "$build/$target.build.log"; die "build of $target failed (see $build/$target.build.log)"; }
done

if [ -n "$boot" ]; then
    wait "$boot" || die "the first Wine prefix could not be booted"
    background=()
    [ -d "$base_prefix/drive_c/windows/syswow64" ] \
        || die "the Wine prefix booted without its 32-bit half (see $base_prefix.boot.log)"
    echo "== the Wine prefix is booted"
fi

# Optional environments that tests rely on (sound sources and the like) hook in here. A hook
# that cannot provide its environment says so and leaves the tests that need it to skip.
for hook in scripts/test-env.d/*.sh; do
    if [ -f "$hook" ]; then . "$hook" || die "the test environment $hook failed"; fi
done

export WINEDEBUG=-all VORLUX_WINE_OUTPUT_AFTER=1

for target in x86_64 i686; do
    if [ ! -f "$build/wineprefix-$target/system.reg" ]; then
        vorlux_copy_prefix "$base_prefix" "$build/wineprefix-$target"
    fi
done
vorlux_copy_prefix "$base_prefix" "$build/wineprefix-clean"
export VORLUX_CLEAN_PREFIX=$build/wineprefix-clean

# Runs one target's tests; the CTest output goes to build/TARGET.ctest.log and the results to
# build/TARGET.junit.xml. A failing test is a result, not a reason to stop; a prefix that cannot
# be booted is.
run_ctest() {  # target
    local target=$1
    rm -f "$build/$target.junit.xml"
    if [ "$target" != native ]; then
        export WINEPREFIX=$build/wineprefix-$target
        export DISPLAY=${displays[$target.24]} VORLUX_DISPLAY_24=${displays[$target.24]}
        export VORLUX_DISPLAY_16=${displays[$target.16]} VORLUX_DISPLAY_8=${displays[$target.8]}
        vorlux_boot_prefix
        # Xvfb runs no window manager: Wine is told to manage no window of the tests, or it
        # waits two seconds for one whenever a window is hidden or closed.
        "$VORLUX_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 \
            || die "cannot leave the windows of $WINEPREFIX unmanaged"
        # A test program that crashes ends at once and fails, instead of waiting for the crash
        # debugger (which hangs under the emulated CPU) until CTest's timeout.
        local node
        for node in 'Software' 'Software\Wow6432Node'; do
            "$VORLUX_WINE64" reg delete 'HKLM\'"$node"'\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
                >/dev/null 2>&1 || true
        done
    fi
    # A test that fails is run once more: a Wine process now and then ends before its program
    # starts, with nothing written. What passed only the second time is named in the summary.
    # Two at a time: the unit tests' cases take turns on the shared prefix and displays, and the
    # whole-program runs, each on a prefix and a display of its own, take turns beside them.
    (cd "$build/$target" && ctest --output-on-failure --timeout 900 --repeat until-pass:2 -j2 \
        --output-junit "$build/$target.junit.xml") \
        </dev/null >"$build/$target.ctest.log" 2>&1 || true
}

# The emulated i686 run is slow and single-threaded: it runs beside everything else.
(run_ctest i686) &
background+=($!)
run_ctest native
(run_ctest x86_64)
wait "${background[@]}" || true
background=()

# Reads one attribute of the <testsuite> element of a CTest JUnit report.
suite_attribute() {  # file name
    tr '\n' ' ' <"$1" | sed -nE "s/.*<testsuite [^>]*[[:space:]]$2=\"([0-9]+)\".*/\1/p"
}

passed=0
failed=0
for target in native x86_64 i686; do
    log=$build/$target.ctest.log
    report=$build/$target.junit.xml
    echo "== $target"
    if [ ! -s "$report" ]; then
        tail -20 "$log"
        echo "no test report from $target (see $log)"
        failed=$((failed + 1))
        continue
    fi
    total=$(suite_attribute "$report" tests)
    bad=$(suite_attribute "$report" failures)
    skipped=$(( $(suite_attribute "$report" skipped) + $(suite_attribute "$report" disabled) ))
    grep -oE '<testcase name="[^"]*"[^>]*status="(fail|notrun)"' "$report" \
        | sed -E 's/<testcase name="([^"]*)".*status="([a-z]*)"/    \1 (\2)/' | head -40 || true
    # CTest numbers the first run of each test ("12/340 Test #12: ..."), not a second one.
    sed -nE 's/^ +Test +#[0-9]+: ([^ ]+) .*Passed.*/    \1 passed on its second run/p' "$log" || true
    grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true
    [ "$total" -gt 0 ] || { echo "$target ran no tests"; failed=$((failed + 1)); continue; }
    passed=$((passed + total - bad - skipped))
    failed=$((failed + bad))
done
echo "test.sh: $(( $(date +%s) - started )) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
