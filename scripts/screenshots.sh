#!/usr/bin/env bash
# Takes every picture in docs/ (which the README shows and the build copies into the help) from
# the current x86_64 build under Wine on a private Xvfb, the same way each time: the panel's
# pages, the Capture Area dialog with its framer, the status icon's menu while recording, the
# help page, the clicks, the key plates and an animated GIF the program records. Run it after a change that shows; commit the pictures with it.
#   scripts/screenshots.sh
# Needs what scripts/setup.sh installs (wkhtmltopdf renders the help page). VORLUX_CLEAN_PREFIX
# names a booted Wine prefix to copy instead of booting one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
VORLUX_SCRIPT=screenshots.sh
docs=$root/docs
build=${VORLUX_BUILD_ROOT:-$root/build}/x86_64
"$root/scripts/setup.sh" || die "installing the packages failed"
[ -f "$build/build.ninja" ] || "$root/scripts/build.sh" x86_64 >/dev/null
cmake --build "$build" --target vorlux clicks_demo keys_demo >"$build/screenshots.log" 2>&1 \
    || { tail -20 "$build/screenshots.log" >&2; die "the build failed (see $build/screenshots.log)"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlux-shots.XXXXXX") || die "cannot make a work directory"
scene_pids=()
cleanup() {
    local pid
    for pid in "${scene_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    vorlux_stop_prefix
    vorlux_stop_xvfbs
    rm -rf "$work"
}
trap cleanup EXIT
vorlux_start_xvfb 24
export DISPLAY=$VORLUX_XVFB WINEPREFIX=$work/prefix WINEDEBUG=-all
if [ -n "${VORLUX_CLEAN_PREFIX:-}" ]; then vorlux_copy_prefix "$VORLUX_CLEAN_PREFIX" "$WINEPREFIX"; fi
(unset DISPLAY; vorlux_boot_prefix)
# At C:\Vorlux, so that the Movie Destination page shows the same path every time.
prog=$WINEPREFIX/drive_c/Vorlux
mkdir -p "$prog"
cp "$build/bin/vorlux.exe" "$build/bin/vored102.exe" "$prog/" || die "cannot copy the program"

# One window (cut from the screen: Wine paints its windows' contents where xwd of the window
# alone does not find them), or the whole screen, as a PNG without time stamps.
shot_window() {  # window out.png
    local geometry x y w h
    geometry=$(xdotool getwindowgeometry "$1") || die "window $1 is gone"
    read -r x y < <(sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\) .*/\1 \2/p' <<<"$geometry")
    read -r w h < <(sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p' <<<"$geometry")
    xwd -silent -root >"$work/shot.xwd" || die "xwd of the screen failed"
    ffmpeg -v error -y -i "$work/shot.xwd" -vf "crop=$w:$h:$x:$y" -frames:v 1 "$2" || die "cannot write $2"
    echo "screenshots.sh: $2"
}
shot_screen() {  # out.png
    xwd -silent -root >"$work/shot.xwd" || die "xwd of the screen failed"
    ffmpeg -v error -y -i "$work/shot.xwd" -frames:v 1 "$1" || die "cannot write $1"
    echo "screenshots.sh: $1"
}
visible() { xdotool search --onlyvisible --class . 2>/dev/null | sort; }

# A desktop to frame: colour bars, a clock and a pair of eyes, always at the same places.
ffmpeg -v error -y -f lavfi -i smptebars=size=1024x768 -frames:v 1 -pix_fmt bgr0 "$work/scene.xwd" \
    || die "cannot make the scene"
xwud -in "$work/scene.xwd" -geometry +0+0 -noclick >/dev/null 2>&1 &
scene_pids+=($!)
xclock -geometry 200x200+380+250 -update 1 >/dev/null 2>&1 &
scene_pids+=($!)
xeyes -geometry 160x100+120+460 >/dev/null 2>&1 &
scene_pids+=($!)
sleep 2

"$VORLUX_WINE64" "$prog/vorlux.exe" </dev/null >"$work/vorlux.out" 2>&1 &
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 120) || die "the panel did not appear"
# Wine's notification area sits at the top-left corner, over the panel's tabs: the panel moves.
tray=$(vorlux_wait_window '^Wine System Tray$' 30) || die "no notification area"
xdotool windowmove "$panel" 300 200
sleep 2

# The pages in the sheet's order, each chosen by a click on its tab (x in the panel, y 17).
tabs=(movie:35 sound:89 destination:173 hotkeys:259 about:317)
for tab in "${tabs[@]}"; do
    xdotool mousemove --window "$panel" "${tab#*:}" 17 click 1
    xdotool mousemove 1000 750
    sleep 2
    shot_window "$panel" "$docs/panel-${tab%%:*}.png"
done
xdotool mousemove --window "$panel" 35 17 click 1
sleep 1

# The Capture Area dialog with its framer around a stored area low on the screen, clear of
# where the dialog first opens; the framer alone is a cut of the same screen.
for value in Left:40 Top:460 Width:600 Height:280; do
    "$VORLUX_WINE64" reg add 'HKLM\SOFTWARE\Quorvane\Vorlux\3.02\Movie' /v "${value%%:*}" /t REG_DWORD \
        /d "${value#*:}" /f >/dev/null 2>&1 || die "cannot store the capture area"
done
vorlux_key "$panel" alt+r
dialog=$(vorlux_wait_window '^Capture Area$' 30) || die "the Capture Area dialog did not open"
xdotool windowmove "$dialog" 720 40
xdotool mousemove 1000 750
sleep 3
shot_screen "$docs/capture-area.png"
ffmpeg -v error -y -i "$docs/capture-area.png" -vf crop=640:320:20:440 "$docs/framer.png" \
    || die "cannot write $docs/framer.png"
echo "screenshots.sh: $docs/framer.png"
vorlux_key "$dialog" Escape
vorlux_wait_gone '^Capture Area$' 10 || die "the Capture Area dialog did not close"

# The status icon's menu while recording: the menu is the window that the right click opens.
# The recording itself, of the stored area, is an animated GIF of the eyes following the cursor.
"$VORLUX_WINE64" reg add 'HKLM\SOFTWARE\Quorvane\Vorlux\3.02\Movie' /v Format /t REG_DWORD /d 1 /f \
    >/dev/null 2>&1 || die "cannot choose GIF movies"
# Right after the dialog closes the panel may not have the focus yet, and Wine then drops the
# hot key: the start is pressed again until the movie exists.
for _ in 1 2 3; do
    vorlux_key "$panel" ctrl+shift+F5
    vorlux_wait_file "$prog/VluxTake000.gif" 10 && break
done
[ -s "$prog/VluxTake000.gif" ] || { cat "$work/vorlux.out" >&2; die "the GIF recording did not start"; }
for x in 80 160 240 320 400 480 560; do xdotool mousemove "$x" 620; sleep 0.5; done
sleep 2
before=$(visible)
xdotool mousemove --window "$tray" 10 10 click 3
xdotool mousemove 1000 750
sleep 2
menu=$(comm -13 <(echo "$before") <(visible) | head -1)
[ -n "$menu" ] || die "the status icon's menu did not open"
shot_window "$menu" "$docs/status-menu.png"
xdotool key Escape
vorlux_key "$panel" ctrl+shift+F6
sleep 2
cp "$prog/VluxTake000.gif" "$docs/recording.gif" || die "cannot copy the GIF recording"
echo "screenshots.sh: $docs/recording.gif"

"$VORLUX_WINESERVER" -k 2>/dev/null || true

# The clicks: frames of a movie the demo records while xdotool clicks on its window.
"$VORLUX_WINE64" "$build/bin/clicks_demo.exe" "$docs/clicks.png" </dev/null >"$work/clicks.out" 2>&1 \
    || { cat "$work/clicks.out" >&2; die "clicks_demo failed"; }
echo "screenshots.sh: $docs/clicks.png"

# The key plates: frames of a movie the demo records while xdotool types and presses shortcuts.
"$VORLUX_WINE64" "$build/bin/keys_demo.exe" "$docs/keys.png" </dev/null >"$work/keys.out" 2>&1 \
    || { cat "$work/keys.out" >&2; die "keys_demo failed"; }
echo "screenshots.sh: $docs/keys.png"

# The help page as a browser shows it, with the pictures just taken.
mkdir -p "$work/help/vorlux-help"
cp "$root/app/help/vorlux-help.html" "$work/help/"
cp "$docs"/*.png "$work/help/vorlux-help/"
wkhtmltoimage -q --width 900 --height 1100 --enable-local-file-access "$work/help/vorlux-help.html" \
    "$work/help.png" || die "wkhtmltoimage failed"
ffmpeg -v error -y -i "$work/help.png" -frames:v 1 "$docs/help.png" || die "cannot write $docs/help.png"
echo "screenshots.sh: $docs/help.png"
