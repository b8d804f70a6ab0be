#!/usr/bin/env bash
# Runs a Windows program of one target under Wine in the build tree's private prefix for it.
#   scripts/wine-run.sh i686|x86_64 PROGRAM [ARGS...]
# VORLUX_DEPTH=8|16|24 picks the matching test display (VORLUX_DISPLAY_8 and so on).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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
case "$target" in
    i686) exec /usr/lib/wine/wine "$@" ;;
    x86_64) exec /usr/lib/wine/wine64 "$@" ;;
    *) echo "wine-run.sh: unknown target '$target'" >&2; exit 2 ;;
esac
