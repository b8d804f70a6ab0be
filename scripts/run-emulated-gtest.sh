#!/usr/bin/env bash
# Runs a GoogleTest program under Wine on an emulated CPU and judges it by GoogleTest's own
# output. Under qemu-i386 a Wine process now and then dies of a signal that the same program
# never meets natively (seen between tests, in Wine's own threads). Then the run resumes in a
# new process with the tests that have not finished yet; a test that was running when the
# process died is run once more and fails if the process dies in it again.
#   scripts/run-emulated-gtest.sh TARGET PROGRAM [--gtest_filter=-PATTERNS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=$1
program=$2
exclude=${3:-}
exclude=${exclude#--gtest_filter=-}
[ "$exclude" = "${3:-}" ] && exclude=""
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

done_tests=""     # finished tests, as a filter list
suspect=""        # the test that was running when the last process died
for attempt in 1 2 3 4 5; do
    filter="-${exclude}${done_tests:+:$done_tests}"
    # Wine's drive Z: is the Unix root.
    report="$work/report$attempt.xml"
    "$root/scripts/wine-run.sh" "$target" "$program" --gtest_filter="$filter" \
        --gtest_output="xml:Z:${report//\//\\}" 2>&1 | tee "$work/out$attempt.txt"
    rc=${PIPESTATUS[0]}
    if [ -s "$report" ] && grep -q '<testsuites ' "$report"; then
        if grep -qE '<testsuites [^>]*(failures|errors)="[1-9]' "$report" || grep -q '^\[  FAILED  \]' "$work"/out*.txt; then
            echo "run-emulated-gtest: tests failed"
            exit 1
        fi
        [ "$rc" -ne 0 ] && echo "run-emulated-gtest: every test finished; the process then ended with status $rc"
        exit 0
    fi
    # The process died before its report: note what finished and what was running.
    finished=$(grep -E '^\[ +(OK|SKIPPED|FAILED) +\] [A-Za-z0-9_/.]+ \(' "$work/out$attempt.txt" | awk '{print $(NF-2)}' | sort -u | paste -sd: -)
    running=$(grep -E '^\[ RUN +\]' "$work/out$attempt.txt" | tail -1 | awk '{print $NF}')
    if grep -qE '^\[ +FAILED +\] [A-Za-z0-9_/.]+ \(' "$work/out$attempt.txt"; then
        echo "run-emulated-gtest: tests failed before the process died (status $rc)"
        exit 1
    fi
    if [ -n "$running" ] && grep -qE "^\[ +OK +\] $running " "$work/out$attempt.txt"; then
        running=""
    fi
    if [ -n "$running" ] && [ "$running" = "$suspect" ]; then
        echo "run-emulated-gtest: the process died twice in $running (status $rc)"
        exit 1
    fi
    echo "run-emulated-gtest: the process died (status $rc)${running:+ in $running}; resuming"
    suspect=$running
    done_tests="${done_tests:+$done_tests:}$finished"
done
echo "run-emulated-gtest: gave up after five processes"
exit 1
