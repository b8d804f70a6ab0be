#!/usr/bin/env bash
# Records a short screen corpus from a private Xvfb with real X windows on it (a text editor
# showing source, a calculator, clocks) as 640x480 RGB555 bottom-up frames and as an 8-bit
# palettized copy, gzipped into bench/data. Run once; the outputs are committed.
#   bench/make_corpus.sh [display]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
display=${1:-:77}
frames=50
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids=()
trap 'kill "${pids[@]}" "$xvfb" 2>/dev/null' EXIT
sleep 1
export DISPLAY=$display
xedit -geometry 420x330+0+0 "$here/../media/avi/Muxer.cpp" & pids+=($!)
xcalc -geometry 200x260+430+0 & pids+=($!)
xclock -update 1 -geometry 150x150+430+300 & pids+=($!)
xeyes -geometry 200x120+0+350 & pids+=($!)
sleep 2
# Scroll the editor while recording so the text moves like real work.
( for _ in $(seq 20); do sleep 0.2; xdotool key --window "$(xdotool search --name xedit | head -1)" ctrl+v 2>/dev/null || true; done ) &
pids+=($!)
ffmpeg -v error -f x11grab -framerate 10 -video_size 640x480 -i "$display" -frames "$frames" \
    -vf vflip -pix_fmt rgb555le -f rawvideo -y "$here/data/screen_640x480.rgb555"
ffmpeg -v error -f rawvideo -pix_fmt rgb555le -s 640x480 -i "$here/data/screen_640x480.rgb555" \
    -frames 1 -vf palettegen=reserve_transparent=0 -y /tmp/vorlux_palette.png
ffmpeg -v error -f rawvideo -pix_fmt rgb555le -s 640x480 -i "$here/data/screen_640x480.rgb555" \
    -i /tmp/vorlux_palette.png -lavfi "[0][1]paletteuse=dither=none" -pix_fmt pal8 -f rawvideo \
    -y "$here/data/screen_640x480.pal8" </dev/null
# The DIB colour table: B,G,R,0 per entry.
ffmpeg -v error -i /tmp/vorlux_palette.png -f rawvideo -pix_fmt bgra -y /tmp/vorlux_palette.bgra
python3 -c "import sys; p=open('/tmp/vorlux_palette.bgra','rb').read(); open(sys.argv[1],'wb').write(bytes(b if i%4!=3 else 0 for i,b in enumerate(p)))" "$here/data/screen_palette.bin"
gzip -9 -f "$here/data/screen_640x480.rgb555" "$here/data/screen_640x480.pal8"
ls -l "$here/data"
