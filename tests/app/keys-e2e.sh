#!/usr/bin/env bash
# Keys shown in the movie, whole program: recordings with Movie\ShowKeys 1 and 2 while xdotool
# presses ctrl+s and types "abc" into an edit box, then both into a password box. A plate is a
# patch of dark pixels at the bottom centre of the frames on e2e_helper's light window:
# - ShowKeys 1: one run of frames holds a plate (ctrl+s); none after "abc";
# - ShowKeys 2: two runs (ctrl+s, then "abc");
# - nothing typed into the password box shows in either mode.
#   keys-e2e.sh x86_64 PATH/vorlux.exe PATH/e2e_helper.exe
# VORLUX_KEYS_FRAME=PATH.png keeps one frame with a plate. VORLUX_DEPTH picks the display.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=keys-e2e.sh
fail() { vorlux_fail "$@"; }
vorlux_program_setup "$1" "$2"
cp "$3" "$VORLUX_PROG/e2e_helper.exe" || fail "cannot copy $3"
width=400
height=300

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/vorlux.out" 2>&1 &
VORLUX_PIDS+=($!)
vorlux_wait_window '^Vorlux 3\.0$' 300 >/dev/null || fail "the panel did not appear"
for v in Left Top; do vorlux_reg_set Movie "$v" REG_DWORD 0; done
vorlux_reg_set Movie Width REG_DWORD "$width"
vorlux_reg_set Movie Height REG_DWORD "$height"
vorlux_reg_set Movie FramesPerSecond REG_DWORD 10

"$VORLUX_RUN" "$VORLUX_PROG/e2e_helper.exe" keys "$width" "$height" 120 </dev/null >/dev/null 2>&1 &
VORLUX_PIDS+=($!)
typing=$(vorlux_wait_window '^vorlux test keys$' 60) || fail "the helper's window did not appear"

# One recording: ctrl+s and "abc" into the edit box, then "abc" and ctrl+s into the password box.
record() {  # ShowKeys movie
    vorlux_reg_set Movie ShowKeys REG_DWORD "$1"
    vorlux_key "$typing" ctrl+shift+F5
    sleep 1
    xdotool mousemove 120 132 click 1
    sleep 0.5
    xdotool key ctrl+s
    sleep 2.2
    xdotool type --delay 60 abc
    sleep 2.2
    xdotool mousemove 120 182 click 1
    sleep 0.5
    xdotool type --delay 60 abc
    xdotool key ctrl+s
    sleep 2.2
    vorlux_key "$typing" ctrl+shift+F6
    vorlux_wait_file "$2" 60 || fail "no $2"
    sleep 1
}

# Prints the runs of frames that hold a plate at the bottom centre, one "first last" per line.
plate_runs() {  # movie [png for a frame with a plate]
    ffmpeg -v error -i "$1" -f rawvideo -pix_fmt rgb24 - | python3 -c '
import sys
w, h, keep = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
data = sys.stdin.buffer.read()
size = w * h * 3
runs, start, kept = [], None, False
for n in range(len(data) // size):
    f = data[n * size:(n + 1) * size]
    dark = [(x, y) for y in range(h - 70, h - 10) for x in range(w // 4, 3 * w // 4)
            if max(f[(y * w + x) * 3:(y * w + x) * 3 + 3]) < 90]
    plate = len(dark) > 300
    if plate:
        xs = [x for x, _ in dark]
        ys = [y for _, y in dark]
        centre, bottom = (min(xs) + max(xs)) / 2, max(ys)
        if abs(centre - w / 2) > 8 or not h - 34 <= bottom <= h - 24:
            sys.exit("frame %d: a dark patch centred at x %.1f, bottom %d: not the bottom centre" % (n, centre, bottom))
        if keep and not kept:
            with open(keep, "wb") as out:
                out.write(b"P6 %d %d 255\n" % (w, h) + f)
            kept = True
    if plate and start is None:
        start = n
    if not plate and start is not None:
        runs.append((start, n - 1))
        start = None
if start is not None:
    runs.append((start, len(data) // size - 1))
for a, b in runs:
    print(a, b)
' "$width" "$height" "${2:-}"
}

record 1 "$VORLUX_PROG/VluxTake000.avi"
record 2 "$VORLUX_PROG/VluxTake001.avi"
shortcuts=$(plate_runs "$VORLUX_PROG/VluxTake000.avi" "${VORLUX_KEYS_FRAME:+$VORLUX_WORK/plate.ppm}") \
    || fail "ShowKeys 1: $shortcuts"
if [ -n "${VORLUX_KEYS_FRAME:-}" ] && [ -f "$VORLUX_WORK/plate.ppm" ]; then
    ffmpeg -v error -y -i "$VORLUX_WORK/plate.ppm" "$VORLUX_KEYS_FRAME" || fail "cannot write $VORLUX_KEYS_FRAME"
fi
every=$(plate_runs "$VORLUX_PROG/VluxTake001.avi") || fail "ShowKeys 2: $every"
echo "ShowKeys 1, frames with a plate: $(tr '\n' ',' <<<"$shortcuts")"
echo "ShowKeys 2, frames with a plate: $(tr '\n' ',' <<<"$every")"
# About 1.5 s at 10 frames a second: held, 1.2 s shown, fading.
check_runs() {  # what runs count
    [ "$(grep -c . <<<"$2")" -eq "$3" ] || fail "$1: $(grep -c . <<<"$2") runs of plate frames, expected $3"
    while read -r a b; do
        [ $((b - a + 1)) -ge 8 ] && [ $((b - a + 1)) -le 25 ] || fail "$1: a plate for $((b - a + 1)) frames"
    done <<<"$2"
}
check_runs "ShowKeys 1 (ctrl+s only; not abc, not the password box)" "$shortcuts" 1
check_runs "ShowKeys 2 (ctrl+s and abc; not the password box)" "$every" 2
echo "PASS"
