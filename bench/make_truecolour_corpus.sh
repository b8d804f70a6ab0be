#!/usr/bin/env bash
# Records a true-colour screen corpus from a private 1024x768 Xvfb at depth 24: a gradient
# wallpaper, a text editor scrolling its source one line a frame, an antialiased clock, a
# calculator and eyes following a moving pointer. 50 frames at 10 frames/s as 32-bit BGRX
# bottom-up DIB frames, xz-compressed into bench/data (the wallpaper repeats in every frame,
# which xz's large window takes and gzip's 32 KiB one cannot). The 640x480 corpus is the
# screen's top-left corner, cut out by the benchmark script. Run once; the output is committed.
#   bench/make_truecolour_corpus.sh [display]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
display=${1:-:211}
frames=50
work=$(mktemp -d)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids=()
trap 'kill "${pids[@]}" "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
export DISPLAY=$display
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
# Scroll the editor a line at a time (the text widget's scroll-one-line-up) and wander the
# pointer so the eyes follow it.
editor=$(xdotool search --name xedit | head -1)
( for i in $(seq 60); do
      sleep 0.1
      xdotool key --window "$editor" ctrl+z 2>/dev/null || true
      xdotool mousemove $((300 + (i * 37) % 500)) $((200 + (i * 23) % 400)) 2>/dev/null || true
  done ) &
pids+=($!)
ffmpeg -v error -f x11grab -framerate 10 -video_size 1024x768 -i "$display" -frames "$frames" \
    -vf vflip -pix_fmt bgr0 -f rawvideo -y "$here/data/screen_1024x768.bgr0"
xz -9e -f "$here/data/screen_1024x768.bgr0"
ls -l "$here/data"
