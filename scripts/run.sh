#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it under Wine.
#   scripts/run.sh [--target i686|x86_64]
# With $DISPLAY set, the program runs on that display until its panel is closed. Without one,
# a demo runs on a private Xvfb: start, press the start hot key, move a window and the mouse for
# about 5 seconds, press the stop hot key, then print the movie's path with an ffprobe summary
# and write a contact sheet of a few frames beside it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib.sh
VORLUX_SCRIPT=run.sh
target=i686
while [ $# -gt 0 ]; do
    case "$1" in
        --target) target=${2:?--target needs i686 or x86_64}; shift 2 ;;
        --target=*) target=${1#--target=}; shift ;;
        *) echo "usage: scripts/run.sh [--target i686|x86_64]" >&2; exit 2 ;;
    esac
done
case "$target" in i686|x86_64) ;; *) echo "run.sh: unknown target '$target'" >&2; exit 2 ;; esac

scripts/setup.sh || die "installing the packages failed"
if [ "$target" = i686 ]; then scripts/enable-i386.sh || die "32-bit Wine cannot run here"; fi
build=${VORLUX_BUILD_ROOT:-$root/build}
export VORLUX_BUILD_ROOT=$build
echo "run.sh: building $target"
# A configured tree builds the program alone, so that work in progress elsewhere cannot stop it.
if [ -f "$build/$target/build.ninja" ]; then
    cmake --build "$build/$target" --target vorlux >"$build.$target.log" 2>&1
else
    scripts/build.sh "$target" >"$build.$target.log" 2>&1
fi || { tail -30 "$build.$target.log"; die "the build of $target failed (see $build.$target.log)"; }
bin=$build/$target/bin
exe=$bin/vorlux.exe
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

if [ -n "${DISPLAY:-}" ]; then
    [ -f "$WINEPREFIX/system.reg" ] || vorlux_boot_prefix
    exec scripts/wine-run.sh "$target" "$exe"
fi

cleanup() {
    vorlux_stop_prefix
    vorlux_stop_xvfbs
}
trap cleanup EXIT
vorlux_start_xvfb 24
export DISPLAY=$VORLUX_XVFB
vorlux_boot_prefix

before=$(ls "$bin"/VluxTake*.avi 2>/dev/null || true)
echo "run.sh: starting vorlux.exe on the private display $DISPLAY (a 32-bit start may take a minute)"
scripts/wine-run.sh "$target" "$exe" </dev/null >"$build/run.$target.out" 2>&1 &
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 300) || die "the panel did not appear"
sleep 1
vorlux_key "$panel" ctrl+shift+F5
echo "run.sh: recording"
# Hot keys arrive only while a window of the program has the focus: keep it, and move the
# panel and the mouse about inside the capture area.
for step in $(seq 0 24); do
    x=$((step * 8)); y=$(((step % 6) * 10))
    xdotool windowmove "$panel" "$x" "$y" mousemove $((100 + step * 10)) $((80 + (step % 5) * 30))
    sleep 0.2
done
vorlux_key "$panel" ctrl+shift+F6
movie=
for _ in $(seq 30); do
    sleep 1
    for f in "$bin"/VluxTake*.avi; do
        [ -f "$f" ] || continue
        grep -qxF "$f" <<<"$before" && continue
        movie=$f
    done
    [ -n "$movie" ] && break
done
[ -n "$movie" ] || die "no movie was written"
sleep 1
echo "movie: $movie"
ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames \
    -show_entries format=duration,size -of default=noprint_wrappers=1 "$movie"
sheet=${movie%.avi}-sheet.png
ffmpeg -v error -y -i "$movie" -vf "select='not(mod(n\,6))',scale=320:-1,tile=3x2" -frames:v 1 "$sheet"
echo "contact sheet: $sheet"
