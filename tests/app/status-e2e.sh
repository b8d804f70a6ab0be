#!/usr/bin/env bash
# The status icon and help in the whole program, in a clean Wine prefix on a display without a
# desktop tray, where Wine shows notification icons in its own window, "Wine System Tray", which
# appears with the first icon and goes with the last. A stand-in browser (url_catcher.exe) is
# the prefix's http handler and the .avi, folder and directory opener, and logs what it is asked
# to open.
#   status-e2e.sh i686|x86_64 PATH/vorlux.exe
# Checked: the tray is there while the program runs; the icon's menu starts, pauses, resumes
# and stops a recording that then decodes, takes a frame, plays the last movie and opens the
# movie folder; the tooltip changes while recording; F1 opens the help page at the Movie page's
# anchor, and a missing help file says so; a second copy ended at its prompt leaves the first
# one's icon; Exit from the menu ends the program and the tray goes with its icon.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=status-e2e.sh
fail() {
    xwd -root -silent >"$VORLUX_WORK/fail.xwd" 2>/dev/null \
        && ffmpeg -v error -y -i "$VORLUX_WORK/fail.xwd" "${TMPDIR:-/tmp}/status-e2e-fail.png" 2>/dev/null \
        && echo "screen at the failure: ${TMPDIR:-/tmp}/status-e2e-fail.png" >&2
    die "FAIL: $*"
}
bin=$(dirname "$2")
VORLUX_DEPTH=24 vorlux_program_setup "$1" "$2"
cp "$bin/vored102.exe" "$bin/url_catcher.exe" "$bin/vorlux-help.html" "$VORLUX_PROG/" || fail "the program's companions are not built"
cp -r "$bin/vorlux-help" "$VORLUX_PROG/" || fail "no help pictures in $bin"
log=$VORLUX_PROG/url.txt
winpath() { "$VORLUX_WINE64" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
catcher=$(winpath "$VORLUX_PROG/url_catcher.exe")
reg_add() {  # key value-data
    "$VORLUX_WINE64" reg add "$1" /ve /d "$2" /f >/dev/null 2>&1 || fail "reg add $1"
}
for class in http aviplay Directory Folder; do
    reg_add "HKLM\\Software\\Classes\\$class\\shell\\open\\command" "\"$catcher\" \"%1\""
done
reg_add 'HKLM\Software\Classes\.avi' aviplay

wait_log() {  # text, seconds: a line of the stand-in browser's log holds it
    for _ in $(seq "$2"); do grep -qF "$1" "$log" 2>/dev/null && return 0; sleep 1; done
    return 1
}
window_at() {  # window -> "x y" of its top-left corner
    local geometry
    geometry=$(xdotool getwindowgeometry "$1")
    echo "$(sed -n 's/.*Position: \([0-9-]*\),.*/\1/p' <<<"$geometry")" \
        "$(sed -n 's/.*Position: [0-9-]*,\([0-9-]*\) .*/\1/p' <<<"$geometry")"
}
tray_point() {  # the middle of the first icon in Wine's tray window
    local x y
    read -r x y < <(window_at "$tray")
    echo "$((x + 10)) $((y + 10))"
}
menu() {  # key: right-click the icon, then choose an item by its access key
    read -r ix iy < <(tray_point)
    xdotool mousemove "$ix" "$iy" click 3
    sleep 1
    xdotool key "$1"
    sleep 1
}
tooltip_shot() {  # -> checksum of the area under the icon, where its tooltip shows
    read -r ix iy < <(tray_point)
    # Away over the panel long enough for the tooltip to see the pointer leave, then back.
    xdotool mousemove 500 300
    sleep 1
    xdotool mousemove "$ix" "$iy"
    sleep 0.3
    xdotool mousemove $((ix + 1)) "$iy"
    sleep 1.5
    xwd -root -silent >"$VORLUX_WORK/tip.xwd"
    ffmpeg -v error -y -i "$VORLUX_WORK/tip.xwd" -vf "crop=400:60:0:$((iy + 8))" -f rawvideo -pix_fmt gray - | md5sum
}
focus_panel() {  # a click on the page's picture gives a control the keyboard focus
    local x y
    read -r x y < <(window_at "$panel")
    xdotool mousemove $((x + 60)) $((y + 150)) click 1
    sleep 0.5
}

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/first.out" 2>&1 &
first=$!
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear"
tray=$(vorlux_wait_window '^Wine System Tray$' 30) || fail "no icon: Wine's tray window did not appear"
# Both come up at the top-left corner of a display without a window manager.
xdotool windowmove "$panel" 300 200
sleep 1
echo "panel $panel, tray $tray at $(tray_point)"

# Menu: start, pause, resume, stop; a movie that decodes.
idle_tip=$(tooltip_shot)
menu s
vorlux_wait_file "$VORLUX_PROG/VluxTake000.avi" 30 || fail "Start Recording from the menu made no movie"
sleep 1.5
tip1=$(tooltip_shot)
sleep 2
tip2=$(tooltip_shot)
[ "$tip1" != "$idle_tip" ] || fail "the tooltip did not change when the recording started"
[ "$tip1" != "$tip2" ] || fail "the tooltip did not change while recording"
menu p
sleep 1
menu r
sleep 1
menu t
sleep 2
movie=$VORLUX_PROG/VluxTake000.avi
probe=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,nb_read_frames \
    -of default=noprint_wrappers=1 "$movie")
echo "$probe"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "${frames:-0}" -ge 20 ] || fail "$frames frames in a recording of about 7 s at 10 fps"
errors=$(ffmpeg -v error -i "$movie" -f null - 2>&1 | head -5)
[ -z "$errors" ] || fail "ffmpeg decode errors: $errors"

# Capture Frame, Play Last Movie, Open Movie Folder.
menu c
vorlux_wait_file "$VORLUX_PROG/VluxTake000.bmp" 20 || fail "Capture Frame from the menu wrote no bitmap"
menu l
wait_log "VluxTake000.avi" 60 || fail "Play Last Movie did not open VluxTake000.avi: $(cat "$log" 2>/dev/null)"
menu f
wait_log "$(winpath "$VORLUX_PROG")" 60 \
    || fail "Open Movie Folder did not open the folder: $(cat "$log" 2>/dev/null)"

# F1 on the Movie page: the browser gets the page's address with its anchor.
focus_panel
xdotool key F1
wait_log "vorlux-help.html#movie" 30 || fail "F1 did not open the help at #movie: $(cat "$log" 2>/dev/null)"
grep -F "vorlux-help.html#movie" "$log"

# A missing help file is said, not passed over.
mv "$VORLUX_PROG/vorlux-help.html" "$VORLUX_PROG/help.away"
focus_panel
xdotool key F1
box=$(vorlux_wait_window '^Vorlux Help$' 30) || fail "a missing help file gave no message"
vorlux_focus "$box"
xdotool key Return
vorlux_wait_gone '^Vorlux Help$' 10 || fail "the help message did not close"
mv "$VORLUX_PROG/help.away" "$VORLUX_PROG/vorlux-help.html"

# A second copy ended at its prompt leaves the first one's icon in place.
"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/second.out" 2>&1 &
second=$!
box=$(vorlux_wait_window '^Vorlux is already running$' 300) || fail "the second copy asked nothing"
vorlux_focus "$box"
xdotool key Escape
code=0
wait "$second" || code=$?
[ "$code" -eq 1 ] || fail "the second copy ended with $code, expected 1"
xdotool search --onlyvisible --name '^Wine System Tray$' >/dev/null || fail "the first copy's icon went with the second"

# Exit from the menu ends the program; the tray goes with the last icon.
menu x
code=0
for _ in $(seq 60); do kill -0 "$first" 2>/dev/null || break; sleep 1; done
kill -0 "$first" 2>/dev/null && fail "Exit from the menu did not end the program"
wait "$first" || code=$?
[ "$code" -eq 0 ] || fail "the program ended with $code after Exit"
vorlux_wait_gone '^Wine System Tray$' 30 || fail "the tray window outlived the program"
echo "PASS"
