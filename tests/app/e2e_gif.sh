#!/usr/bin/env bash
# The whole program recording an animated GIF and saving a PNG frame by hot key, in a clean
# Wine prefix: with Movie\Format 1 and Capture\Format 1 the files take .gif and .png, Pillow and
# FFmpeg read every frame, the movie lasts as long as it was recorded, and the PNG is the
# area's size with the screen's resolution.
#   e2e_gif.sh i686|x86_64 PATH/vorlux.exe
# VORLUX_DEPTH picks the depth of the run's private display (24 without it).
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=e2e_gif.sh
depth=${VORLUX_DEPTH:-24}
vorlux_program_setup "$1" "$2"
fail() { vorlux_fail "$@"; }
key() { vorlux_key "$panel" "$1"; }  # the panel must have the X focus for a hot key to arrive

# Something that changes in the area, clear of the panel, which opens at the top-left corner.
left=560 top=420 width=320 height=240
xclock -update 1 -geometry ${width}x${height}+$left+$top &
VORLUX_PIDS+=($!)

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/vorlux.out" 2>&1 &
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear"
echo "panel $panel on depth $depth"
for pair in Format=1 Left=$left Top=$top Width=$width Height=$height CursorMode=1 VorluxMode=0; do
    vorlux_reg_set Movie "${pair%%=*}" REG_DWORD "${pair#*=}"
done
vorlux_reg_set Capture Format REG_DWORD 1

key ctrl+shift+F5
start=$(date +%s%N)
sleep 3
key ctrl+shift+F6
stop=$(date +%s%N)
movie=$VORLUX_PROG/VluxTake000.gif
vorlux_wait_file "$movie" 60 || fail "no $movie"
sleep 2
[ ! -e "$VORLUX_PROG/VluxTake000.avi" ] || fail "an AVI was written as well"

decoded=$(/usr/bin/python3 "$(dirname "$0")/../media/avi/decode_image.py" "$movie" "$VORLUX_WORK/movie.raw")
echo "$decoded"
read -r _ frames _ durations _ _ <<<"$decoded"
[ "${frames:-0}" -ge 2 ] || fail "$frames frames: the clock's hands did not move in the movie"
[ "$(stat -c %s "$VORLUX_WORK/movie.raw")" -eq $((frames * width * height * 3)) ] || fail "a frame is not ${width}x${height}"
total=$(tr ',' '+' <<<"$durations" | bc)
elapsed=$(( (stop - start) / 1000000 ))
# The movie lasts from the start to the last frame slot before the stop: within a few frames of
# the hot keys' times (each key takes its time to arrive).
[ "$total" -ge $((elapsed - 1000)) ] && [ "$total" -le $((elapsed + 500)) ] ||
    fail "the movie lasts $total ms, recorded for about $elapsed ms"
errors=$(ffmpeg -v error -i "$movie" -f null - 2>&1 | head -5)
[ -z "$errors" ] || fail "ffmpeg decode errors: $errors"
ffcount=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 "$movie")
[ "$ffcount" = "$frames" ] || fail "FFmpeg reads $ffcount frames, Pillow $frames"

key ctrl+shift+F8
picture=$VORLUX_PROG/VluxTake000.png
vorlux_wait_file "$picture" 30 || fail "no $picture"
sleep 1
decoded=$(/usr/bin/python3 "$(dirname "$0")/../media/avi/decode_image.py" "$picture" "$VORLUX_WORK/picture.raw")
echo "$decoded"
read -r _ frames _ _ _ dpi <<<"$decoded"
[ "$frames" = 1 ] || fail "the PNG did not decode"
[ "$(stat -c %s "$VORLUX_WORK/picture.raw")" -eq $((width * height * 3)) ] || fail "the PNG is not ${width}x${height}"
[ "${dpi:-0}" -gt 0 ] || fail "the PNG has no resolution"
[ ! -e "$VORLUX_PROG/VluxTake000.bmp" ] || fail "a BMP was written as well"
echo "PASS"
