#!/usr/bin/env bash
# Configures and builds one target into build/TARGET, executables in build/TARGET/bin.
# VORLUX_BUILD_ROOT moves the build tree elsewhere (several checkouts or workers side by side);
# VORLUX_BUILD_TARGETS builds only those targets instead of everything. A tree is optimised as
# the release is, without debugging information (which doubles the build's time).
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
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${args[@]}" "$@" >/dev/null
fi
targets=()
for t in ${VORLUX_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" "${targets[@]}" -- -j"$(nproc)"
