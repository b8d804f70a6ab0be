#!/usr/bin/env bash
# Records four kinds of screen from a private 640x480 Xvfb at depth 24, on the busy desktop of
# the other benchmarks (gradient wallpaper, an editor showing source, a clock, a calculator,
# eyes, a logo), 50 frames at 10 frames/s each, as 32-bit BGRX bottom-up DIB frames xz-compressed
# into bench/data/scene_<kind>_640x480.bgr0.xz:
#   typing   text typed into the editor, lines added at the bottom so that it scrolls, then paged
#   windows  the calculator, logo and clock windows moved and resized a few pixels a frame
#   video    a small animation playing in a window beside the still desktop
#   still    nothing but the pointer wandering and the clock's second hand
# The 16- and 8-bit corpora are made from these by bench/compare_zmbv.sh. Recording takes about
# 40 seconds; run once, the output is committed (an X server's timing is not repeatable).
#   bench/make_screen_corpus.sh [display]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
display=${1:-:213}
frames=50
work=$(mktemp -d)
xvfb=""
pids=()
stop() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    pids=()
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
    xvfb=""
}
trap 'stop; rm -rf "$work"' EXIT
export DISPLAY=$display

ffmpeg -v error -f lavfi -i "gradients=s=640x480:c0=0x1f4f8f:c1=0xd08a40:x0=0:y0=0:x1=639:y1=479:nb_colors=2:seed=7" \
    -frames 1 -pix_fmt bgr0 -y "$work/wallpaper.xwd"
# The animation: a zoom into the Mandelbrot set, 256 colours, as a small video player shows it.
ffmpeg -v error -f lavfi -i "mandelbrot=s=200x150:rate=10" -frames 80 -y "$work/clip.gif"

desktop() {  # the common desktop; $1: where the editor's text cursor goes first
    Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    sleep 1
    xwud -in "$work/wallpaper.xwd" -geometry +0+0 -noclick & pids+=($!)
    sleep 0.3
    xedit -geometry 400x330+0+0 "$here/../media/avi/Muxer.cpp" & pids+=($!)
    xclock -render -update 1 -geometry 130x130+410+0 & pids+=($!)
    xcalc -geometry 180x230+410+140 & pids+=($!)
    xeyes -geometry 180x100+0+370 & pids+=($!)
    xlogo -render -geometry 120x120+200+350 & pids+=($!)
    sleep 2
}

record() {  # kind
    ffmpeg -v error -f x11grab -draw_mouse 1 -framerate 10 -video_size 640x480 -i "$display" -frames "$frames" \
        -vf vflip -pix_fmt bgr0 -f rawvideo -y "$here/data/scene_$1_640x480.bgr0"
    xz -9e -f "$here/data/scene_$1_640x480.bgr0"
}

# Typing: at the end of the file, lines typed a few characters at a time; Return at the
# bottom of the window scrolls it a line; then a page up and two down.
desktop
editor=$(xdotool search --name xedit | head -1)
xdotool mousemove 200 160 windowfocus "$editor" key --window "$editor" alt+greater
( xdotool type --delay 30 --window "$editor" "$(printf 'int frames = %d; // typed\n' $(seq 10))" 2>/dev/null || true
  xdotool key --window "$editor" alt+v ctrl+v ctrl+v 2>/dev/null || true ) & pids+=($!)
record typing
stop

# Windows: moved and resized without a window manager, a few pixels a frame.
desktop
calc=$(xdotool search --name Calculator | head -1)
logo=$(xdotool search --name xlogo | head -1)
clock=$(xdotool search --name xclock | head -1)
( for i in $(seq 60); do
      sleep 0.1
      xdotool windowmove "$calc" $((410 - 4 * i)) $((140 + 2 * i)) 2>/dev/null || true
      xdotool windowmove "$logo" $((200 + 3 * i)) $((350 - 3 * i)) 2>/dev/null || true
      xdotool windowsize "$logo" $((120 + 2 * i)) $((120 + i)) 2>/dev/null || true
      xdotool windowsize "$clock" $((130 + (i % 20))) $((130 + (i % 20))) 2>/dev/null || true
  done ) & pids+=($!)
record windows
stop

# Video: the clip plays in a window over the calculator, the pointer resting.
desktop
animate -delay 10 -geometry +300+250 "$work/clip.gif" & pids+=($!)
xdotool mousemove 600 20
sleep 1
record video
stop

# Still: the pointer wanders; the clock ticks.
desktop
( for i in $(seq 60); do
      sleep 0.1
      xdotool mousemove $((300 + (i * 17) % 300)) $((100 + (i * 11) % 300)) 2>/dev/null || true
  done ) & pids+=($!)
record still
stop
ls -l "$here/data"
