#!/usr/bin/env bash
# Runs a Windows program of one target under Wine in the build tree's private prefix for it.
#   scripts/wine-run.sh i686|x86_64 PROGRAM [ARGS...]
# VORLUX_DEPTH=8|16|24 picks the matching test display (VORLUX_DISPLAY_8 and so on).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
VORLUX_SCRIPT=wine-run.sh
target=$1
shift
export WINEPREFIX=${WINEPREFIX:-${VORLUX_BUILD_ROOT:-$root/build}/wineprefix-$target}
export WINEDEBUG=${WINEDEBUG:--all}
# Wine starts a server through Debian's wrapper, with no persistence: a server that outlives each
# program (scripts/test.sh starts one per prefix) saves booting the prefix again every time.
if [ -n "${VORLUX_DEPTH:-}" ]; then
    var="VORLUX_DISPLAY_${VORLUX_DEPTH}"
    if [ -n "${!var:-}" ]; then export DISPLAY=${!var}; fi
fi
wine=$(vorlux_wine "$target")
# VORLUX_WINE_OUTPUT_AFTER=1 (the test runs): the program writes to a file, shown when it ends.
# Wine's desktop and services, started by the program, inherit its output and outlive it by
# many seconds; a test runner reading a pipe would wait for them.
if [ "${VORLUX_WINE_OUTPUT_AFTER:-}" = 1 ]; then
    out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
    trap 'rm -f "$out"' EXIT
    rc=0
    "$wine" "$@" >"$out" 2>&1 || rc=$?
    cat "$out"
    if [ "$rc" -ne 0 ] && [ ! -s "$out" ]; then
        echo "wine-run.sh: $1 ended with code $rc and wrote nothing" >&2
    fi
    exit $rc
fi
exec "$wine" "$@"
