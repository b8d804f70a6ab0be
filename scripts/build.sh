#!/usr/bin/env bash
# Configures and builds one target into build/TARGET, executables in build/TARGET/bin.
# VORLUX_BUILD_ROOT moves the build tree elsewhere (several checkouts or workers side by side).
#   scripts/build.sh i686|x86_64|native [extra cmake arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: build.sh i686|x86_64|native}
shift
case "$target" in
    i686|x86_64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake"
                       -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh;$target") ;;
    native) args=(-DVORLUX_SANITIZE=ON) ;;
    *) echo "build.sh: unknown target '$target' (i686, x86_64 or native)" >&2; exit 2 ;;
esac
build="${VORLUX_BUILD_ROOT:-$root/build}/$target"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja "${args[@]}" "$@" >/dev/null
fi
cmake --build "$build" -- -j"$(nproc)"
