#!/usr/bin/env bash
# The whole program records what the X server shows: a still picture in another program's X
# window fills the default capture area (400x300 at the top-left corner), the panel, Wine's tray
# window and the mouse are moved out of it, and a recording made by hot key must match a
# screenshot of that window frame by frame (Video 1 on a 16-bit screen is lossy, so the bound is
# a PSNR well below what a right recording reaches and far above a black or stale one).
# Written for the 32-bit build under an emulated CPU: every wait is generous and nothing depends
# on how fast the program runs.
#   screen_e2e.sh i686|x86_64 PATH/vorlux.exe
# VORLUX_DEPTH picks the depth of the run's private display (24 without it).
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=screen_e2e.sh
depth=${VORLUX_DEPTH:-16}
vorlux_program_setup "$1" "$2"
fail() { vorlux_fail "$@"; }
key() { vorlux_key "$panel" "$1"; }  # the panel must have the X focus for a hot key to arrive

width=400 height=300   # the default capture area, at (0, 0)
least=30               # dB; a right recording reaches about 41, a black or stale one stays below 10

# Colour bars, gradients and text, in the display's own pixel format for xwud.
ffmpeg -v error -f lavfi -i "testsrc2=s=${width}x${height}:r=1" -frames 1 -y "$VORLUX_WORK/picture.png"
case "$depth" in
    24) shown=bgr0 ;;
    16) shown=rgb565le ;;
    *) shown=pal8 ;;
esac
ffmpeg -v error -i "$VORLUX_WORK/picture.png" -pix_fmt $shown -y "$VORLUX_WORK/picture.xwd"
xwud -in "$VORLUX_WORK/picture.xwd" -geometry +0+0 -noclick &
VORLUX_PIDS+=($!)
picture=$(vorlux_wait_window '^xwud' 30) || fail "the picture's window did not appear"

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/vorlux.out" 2>&1 &
program=$!
VORLUX_PIDS+=($program)
# Minutes under the emulator; a start that dies on the way (the emulated loader now and then
# cannot map what Wine needs) ends the wait at once, so that a second run comes sooner.
panel=""
for _ in $(seq 600); do
    panel=$(xdotool search --onlyvisible --name '^Vorlux 3\.0$' 2>/dev/null | head -1 || true)
    [ -n "$panel" ] && break
    kill -0 "$program" 2>/dev/null || fail "the program ended before its panel appeared: $(tail -3 "$VORLUX_WORK/vorlux.out")"
    sleep 1
done
[ -n "$panel" ] || fail "the panel did not appear"
echo "panel $panel on depth $depth"

# Out of the capture area: the panel, Wine's tray window (when it shows the status icon) and
# the mouse. Then the program has time to take in the moves.
xdotool windowmove "$panel" 560 420
tray=$(vorlux_wait_window '^Wine System Tray$' 120 || true)
[ -n "$tray" ] && xdotool windowmove "$tray" 600 10
xdotool mousemove 1000 740
sleep 5
# The picture alone, as the X server holds it (a screenshot of the root would be made of
# several visuals once Wine shows its tray, which xwd then writes in a form FFmpeg misreads).
xwd -silent -id "$picture" >"$VORLUX_WORK/picture-shown.xwd"

key ctrl+shift+F5
sleep 6
key ctrl+shift+F6
movie=$VORLUX_PROG/VluxTake000.avi
vorlux_wait_file "$movie" 300 || fail "no $movie"
# The movie is complete once its index is written and the program has let go of the file.
for _ in $(seq 120); do
    ffprobe -v error "$movie" 2>/dev/null && break
    sleep 1
done
sleep 3

frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 "$movie")
[ "${frames:-0}" -ge 3 ] || fail "$frames frames"
ffmpeg -hide_banner -i "$movie" -i "$VORLUX_WORK/picture-shown.xwd" \
    -lavfi "[1:v]format=gbrp[b];[0:v]format=gbrp[a];[a][b]psnr=stats_file=$VORLUX_WORK/psnr.log" \
    -f null - >"$VORLUX_WORK/psnr.out" 2>&1 || fail "ffmpeg could not compare the movie with the screen"
read -r average minimum < <(sed -n 's/.*average:\([0-9a-z.]*\) min:\([0-9a-z.]*\).*/\1 \2/p' "$VORLUX_WORK/psnr.out")
compared=$(wc -l <"$VORLUX_WORK/psnr.log")
echo "movie against the picture on the screen: PSNR average $average, worst frame $minimum, $compared of $frames frames"
[ "$compared" -eq "$frames" ] || fail "compared $compared of $frames frames"
awk -v m="$minimum" -v l="$least" 'BEGIN { exit !(m == "inf" || m + 0 >= l) }' \
    || fail "frames differ from the screen (PSNR worst $minimum, average $average; at least $least dB expected)"
echo "PASS"
