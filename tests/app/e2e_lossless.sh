#!/usr/bin/env bash
# The whole program with Lossless on, in a clean Wine prefix: a still true-colour picture is
# shown on the screen and recorded by hot key. The movie is ZMBV at the depth the screen
# allows (32-bit frames on a true-colour screen, 16 on a 16-bit one, palettised on an 8-bit
# one); on a true-colour screen every frame equals an xwd screenshot of the area (PSNR inf).
#   e2e_lossless.sh i686|x86_64 PATH/vorlux.exe
# VORLUX_DEPTH picks the depth of the run's private display (24 without it).
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=e2e_lossless.sh
depth=${VORLUX_DEPTH:-24}
vorlux_program_setup "$1" "$2"
fail() { vorlux_fail "$@"; }
key() { vorlux_key "$panel" "$1"; }  # the panel must have the X focus for a hot key to arrive
set_number() { vorlux_reg_set Movie "$1" REG_DWORD "$2"; }  # read afresh by the next start

# The capture area: clear of the panel, which opens at the top-left corner.
left=560 top=420 width=400 height=300

# A picture in true colour: colour bars, gradients and text. Cut to RGB555 it must change, or
# an exact match would not show that true colour was kept.
ffmpeg -v error -f lavfi -i "testsrc2=s=${width}x${height}:r=1" -frames 1 -y "$VORLUX_WORK/picture.png"
cut=$(ffmpeg -hide_banner -i "$VORLUX_WORK/picture.png" -i "$VORLUX_WORK/picture.png" \
    -lavfi "[0:v]format=rgb555le,format=gbrp[a];[1:v]format=gbrp[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9a-z.]*\).*/\1/p')
[ -n "$cut" ] && [ "$cut" != inf ] || fail "the test picture survives RGB555 ($cut)"
case "$depth" in  # the picture in the display's own pixel format, for xwud
    24) shown=bgr0 ;;
    16) shown=rgb565le ;;
    *) shown=pal8 ;;
esac
ffmpeg -v error -i "$VORLUX_WORK/picture.png" -pix_fmt $shown -y "$VORLUX_WORK/picture.xwd"
xwud -in "$VORLUX_WORK/picture.xwd" -geometry +$left+$top -noclick &
VORLUX_PIDS+=($!)

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/vorlux.out" 2>&1 &
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear"
echo "panel $panel on depth $depth"

# What the Movie page's Lossless box stores, and an area over the picture without the cursor.
set_number Lossless 1
set_number Left $left
set_number Top $top
set_number Width $width
set_number Height $height
set_number CursorMode 1
set_number VorluxMode 0
xdotool mousemove 5 760

key ctrl+shift+F5
sleep 2
xwd -root -silent >"$VORLUX_WORK/screen.xwd"
sleep 1
key ctrl+shift+F6
movie=$VORLUX_PROG/VluxTake000.avi
vorlux_wait_file "$movie" 60 || fail "no $movie"
sleep 2

probe=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,codec_tag_string,pix_fmt,width,height,nb_read_frames \
    -of default=noprint_wrappers=1 "$movie")
echo "$probe"
case "$depth" in
    24) pix_fmt=bgr0 ;;     # 32-bit frames
    16) pix_fmt=rgb555le ;;
    *) pix_fmt=pal8 ;;
esac
grep -qx "codec_name=zmbv" <<<"$probe" || fail "codec is not zmbv"
grep -qx "codec_tag_string=ZMBV" <<<"$probe" || fail "the stream's handler is not ZMBV"
grep -qx "pix_fmt=$pix_fmt" <<<"$probe" || fail "frames are not $pix_fmt"
grep -qx "width=$width" <<<"$probe" || fail "width is not $width"
grep -qx "height=$height" <<<"$probe" || fail "height is not $height"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "${frames:-0}" -ge 10 ] || fail "$frames frames, expected about 30"
errors=$(ffmpeg -v error -i "$movie" -f null - 2>&1 | head -5)
[ -z "$errors" ] || fail "ffmpeg decode errors: $errors"

if [ "$depth" = 24 ]; then
    # The screenshot shows the picture exactly (else the display, not the recorder, is at fault),
    # and every frame of the movie equals the screenshot.
    psnr() {  # input-a input-b -> "average min frames"
        ffmpeg -hide_banner -i "$1" -i "$2" \
            -lavfi "[1:v]crop=$width:$height:$left:$top,format=gbrp[b];[0:v]format=gbrp[a];[a][b]psnr=stats_file=$VORLUX_WORK/psnr.log" \
            -f null - 2>&1 | sed -n 's/.*average:\([0-9a-z.]*\) min:\([0-9a-z.]*\).*/\1 \2/p'
    }
    read -r average _ < <(ffmpeg -hide_banner -i "$VORLUX_WORK/picture.png" -i "$VORLUX_WORK/screen.xwd" \
        -lavfi "[1:v]crop=$width:$height:$left:$top,format=gbrp[b];[0:v]format=gbrp[a];[a][b]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9a-z.]*\) min:\([0-9a-z.]*\).*/\1 \2/p')
    [ "$average" = inf ] || fail "the screen does not show the picture exactly (PSNR $average)"
    read -r average minimum < <(psnr "$movie" "$VORLUX_WORK/screen.xwd")
    compared=$(wc -l <"$VORLUX_WORK/psnr.log")
    echo "movie against the screen: PSNR average $average, worst frame $minimum, $compared frames"
    [ "$average" = inf ] && [ "$minimum" = inf ] || fail "frames differ from the screen (PSNR $average, worst $minimum)"
    [ "$compared" -eq "$frames" ] || fail "compared $compared of $frames frames"
fi
echo "PASS"
