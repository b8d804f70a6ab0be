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
# Debian's wineserver wrapper starts the server with no persistence, so that every program would
# start a new server and boot the prefix again (seconds each); the server itself keeps it.
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
if [ -n "${VORLUX_DEPTH:-}" ]; then
    var="VORLUX_DISPLAY_${VORLUX_DEPTH}"
    if [ -n "${!var:-}" ]; then export DISPLAY=${!var}; fi
fi
case "$target" in
    i686) exec /usr/lib/wine/wine "$@" ;;
    x86_64) exec /usr/lib/wine/wine64 "$@" ;;
    *) echo "wine-run.sh: unknown target '$target'" >&2; exit 2 ;;
esac
