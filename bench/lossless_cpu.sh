#!/usr/bin/env bash
# The live cost of a lossless recording: lossless_cpu.exe (the engine with its real parts)
# records a private 1024x768 depth-24 Xvfb (a 32-bit screen to Windows) at 25 fps for a while.
# The screen is busy like the true-colour corpus's (bench/make_truecolour_corpus.sh): a
# gradient wallpaper, a text editor scrolling a line at a time, a clock, a calculator, eyes
# after a wandering pointer. Prints the recorder's CPU share of one core and its skipped
# frames, what the X server and the Wine server spent beside it, and FFmpeg's view of the
# movie. Needs an x86_64 build (scripts/build.sh x86_64) and a booted prefix to copy.
# On a machine busy with other work the scheduler's delays show up as skipped frames that the
# recording's own cost does not explain; `chrt -r 5 bench/lossless_cpu.sh ...` runs the whole
# set (X server and Wine too) ahead of that work, as on an idle machine.
#   bench/lossless_cpu.sh BUILD_DIR [seconds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib.sh"
build=$(cd "${1:?usage: lossless_cpu.sh BUILD_DIR [seconds]}" && pwd)
seconds=${2:-20}
base=${VORLUX_CLEAN_PREFIX:-$here/../build/wineprefix-base}
[ -f "$base/system.reg" ] || base=/work/main/build/wineprefix-base

work=$(mktemp -d)
pids=()
cleanup() {
    vorlux_stop_prefix
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    vorlux_stop_xvfbs
    rm -rf "$work"
}
trap cleanup EXIT

vorlux_start_xvfb 24
xvfb=${VORLUX_XVFB_PIDS[0]}
export DISPLAY=$VORLUX_XVFB WINEPREFIX=$work/prefix WINEDEBUG=-all
vorlux_copy_prefix "$base" "$WINEPREFIX"
vorlux_boot_prefix
# This prefix's server: it works in a directory named after the prefix's inode.
inode=$(printf '%x' "$(stat -c %i "$WINEPREFIX")")
server=""
for p in $(pgrep -f "^$VORLUX_WINESERVER" || true); do
    case "$(readlink "/proc/$p/cwd" 2>/dev/null)" in *-"$inode") server=$p ;; esac
done

ffmpeg -v error -f lavfi -i "gradients=s=1024x768:c0=0x1f4f8f:c1=0xd08a40:x0=0:y0=0:x1=1023:y1=767:nb_colors=2:seed=7" \
    -frames 1 -pix_fmt bgr0 -y "$work/wallpaper.xwd"
xwud -in "$work/wallpaper.xwd" -geometry +0+0 -noclick & pids+=($!)
sleep 0.5
xedit -geometry 480x400+0+0 "$here/../media/avi/Muxer.cpp" & pids+=($!)
xclock -render -update 1 -geometry 140x140+490+0 & pids+=($!)
xcalc -geometry 200x260+490+160 & pids+=($!)
xeyes -geometry 200x120+0+420 & pids+=($!)
xlogo -render -geometry 180x180+740+40 & pids+=($!)
sleep 2
editor=$(xdotool search --name xedit | head -1)
( while :; do
      for i in $(seq 200); do
          sleep 0.1
          xdotool key --window "$editor" ctrl+z 2>/dev/null || true
          xdotool mousemove $((300 + (i * 37) % 500)) $((200 + (i * 23) % 400)) 2>/dev/null || true
      done
      # Back to the top of the file, to scroll it again.
      xdotool key --window "$editor" alt+less 2>/dev/null || true
  done ) &
pids+=($!)
sleep 1

ticks() {  # pid -> user + system clock ticks so far
    [ -n "$1" ] && [ -r "/proc/$1/stat" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0
}
hz=$(getconf CLK_TCK)
x0=$(ticks "$xvfb"); s0=$(ticks "$server")
"$VORLUX_WINE64" "$build/bin/lossless_cpu.exe" "$seconds" 25 1024 768 'Z:'"${work//\//\\}"'\lossless.avi' \
    </dev/null 2>&1 | tr -d '\r'
x1=$(ticks "$xvfb"); s1=$(ticks "$server")
python3 -c "print('beside it: X server %.1f%%, Wine server %.1f%% of one core' % \
    (100 * ($x1 - $x0) / $hz / $seconds, 100 * ($s1 - $s0) / $hz / $seconds))"
ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames -of compact=p=0 \
    "$work/lossless.avi"
uptime
