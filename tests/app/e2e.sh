#!/usr/bin/env bash
# The whole program in a clean Wine prefix: the registry tree appears with its defaults, the
# hot keys record movies and a snapshot beside the program, and a second copy asked to stop
# ends with exit code 1 and no panel.
#   e2e.sh i686|x86_64 PATH/vorlux.exe
# VORLUX_DEPTH picks the depth of the run's private display (24 without it).
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=e2e.sh
fail() { vorlux_fail "$@"; }
depth=${VORLUX_DEPTH:-24}
vorlux_program_setup "$1" "$2"
key() { vorlux_key "$panel" "$1"; }  # the panel must have the X focus for a hot key to arrive

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/first.out" 2>&1 &
first=$!
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear"
echo "panel $panel on depth $depth"

# Defaults written at the first start.
declare -A defaults=([Movie/FramesPerSecond]=0xa [Movie/Width]=0x190 [Movie/Height]=0x12c
    [Movie/KeyFrame]=0xa [Movie/PanValue]=0x32 [Key/StartKey]=0x374 [Key/CaptureKey]=0x377
    [Path/AutoIncrement]=0x1 [Path/Filename]=VluxTake [Sound/Frequency]=0x5622)
for k in "${!defaults[@]}"; do
    got=$(vorlux_reg_value "${k%%/*}" "${k##*/}")
    [ "$got" = "${defaults[$k]}" ] || fail "registry $k is '$got', expected ${defaults[$k]}"
done

key ctrl+shift+F5
sleep 3
key ctrl+shift+F6
movie=$VORLUX_PROG/VluxTake000.avi
vorlux_wait_file "$movie" 60 || fail "no $movie"
sleep 2
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames -of default=noprint_wrappers=1 "$movie")
echo "$probe"
codec=msvideo1
[ "$depth" = 8 ] && codec=msrle
grep -qx "codec_name=$codec" <<<"$probe" || fail "codec is not $codec"
grep -qx "width=400" <<<"$probe" || fail "width is not 400"
grep -qx "height=300" <<<"$probe" || fail "height is not 300"
grep -qx "r_frame_rate=10/1" <<<"$probe" || fail "rate is not 10/1"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "${frames:-0}" -ge 15 ] && [ "${frames:-0}" -le 60 ] || fail "$frames frames, expected about 30"
errors=$(ffmpeg -v error -i "$movie" -f null - 2>&1 | head -5)
[ -z "$errors" ] || fail "ffmpeg decode errors: $errors"

key ctrl+shift+F5
sleep 1
key ctrl+shift+F6
vorlux_wait_file "$VORLUX_PROG/VluxTake001.avi" 60 || fail "the second recording is not VluxTake001.avi"

key ctrl+shift+F8
vorlux_wait_file "$VORLUX_PROG/VluxTake000.bmp" 30 || fail "no VluxTake000.bmp"

# A second copy: the message of string 271 under the caption of string 270; Cancel ends it.
"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/second.out" 2>&1 &
second=$!
box=$(vorlux_wait_window '^Vorlux is already running$' 300) || fail "the second copy asked nothing"
panels=$(xdotool search --onlyvisible --name '^Vorlux 3\.0$' | wc -l)
[ "$panels" -eq 1 ] || fail "$panels panels while the second copy asks"
xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key Escape
code=0
wait "$second" || code=$?
[ "$code" -eq 1 ] || fail "the second copy ended with $code, expected 1"
panels=$(xdotool search --onlyvisible --name '^Vorlux 3\.0$' | wc -l)
[ "$panels" -eq 1 ] || fail "$panels panels after the second copy ended"

kill "$first" 2>/dev/null || true
echo "PASS"
