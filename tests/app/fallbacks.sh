#!/usr/bin/env bash
# The whole program with stored settings it cannot use, in a clean Wine prefix: a movie
# directory, base name or capture area set by hand to something unusable records a 400x300
# movie beside the program; a start on a disk too full for even the movie's headers leaves no
# file behind, puts back a movie it was to replace and takes no number; the hidden main frame
# stays hidden through hot-key starts and stops.
#   fallbacks.sh i686|x86_64 PATH/vorlux.exe
# VORLUX_DEPTH picks the depth of the run's private display (24 without it).
# Mounts a small tmpfs as drive E: of the prefix (needs root), unmounted again however it ends.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=fallbacks.sh
fail() { vorlux_fail "$@"; }
depth=${VORLUX_DEPTH:-24}
vorlux_program_setup "$1" "$2"
disk=$VORLUX_WORK/disk
# The program runs from here: the root of its current drive is /, where a movie whose directory
# read as empty text used to land.
cd "$VORLUX_WORK"

key() { vorlux_key "$panel" "$1"; }  # the panel must have the X focus for a hot key to arrive
start_program() {
    "$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >>"$VORLUX_WORK/program.out" 2>&1 &
    running=$!
    VORLUX_PIDS+=("$running")
    panel=$(vorlux_wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear"
}
end_program() {  # Cancel closes the panel, which ends the program
    vorlux_focus "$panel"
    xdotool key Escape
    for _ in $(seq 30); do kill -0 "$running" 2>/dev/null || break; sleep 1; done
    kill "$running" 2>/dev/null || true
    wait "$running" 2>/dev/null || true
    running=""
}
record() {  # seconds
    key ctrl+shift+F5
    sleep "$1"
    key ctrl+shift+F6
}
# A start onto a drive this small asks first; Yes is the default button.
answer_low_disk() {  # which start, for the failure
    local box
    box=$(vorlux_wait_window '^Low disk space$' 60) || fail "a start $1 did not ask first"
    vorlux_focus "$box"
    xdotool key Return
}
# A movie recorded from the default area: it appears and decodes at 400x300.
expect_default_area_movie() {  # path which-movie what-was-stored
    local got
    vorlux_wait_file "$1" 60 || fail "no $2 beside the program"
    sleep 2
    got=$(probe_size "$1")
    echo "$3: $got"
    [ "${got% *}" = 400x300 ] || fail "the movie is ${got% *}, expected 400x300"
}
probe_size() {  # movie -> "WIDTHxHEIGHT FRAMES", after checking it decodes cleanly
    local errors
    errors=$(ffmpeg -v error -i "$1" -f null - 2>&1 | head -5)
    [ -z "$errors" ] || fail "$1 does not decode: $errors"
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=width,height,nb_read_frames \
        -of csv=p=0:s=x "$1" | sed -E 's/^([0-9]+)x([0-9]+)x([0-9]+)$/\1x\2 \3/'
}
only_the_panel_visible() {  # what
    local frames windows
    frames=$( (xdotool search --onlyvisible --name '^Vorlux 3\.0 for Windows 95$' 2>/dev/null || true) | wc -l)
    [ "$frames" -eq 0 ] || fail "the main frame is visible $1"
    windows=$( (xdotool search --onlyvisible --classname '^vorlux\.exe$' 2>/dev/null || true) | wc -l)
    [ "$windows" -eq 1 ] || fail "$windows windows of the program visible $1, expected the panel alone"
}
no_stray_movie() {
    for stray in /VluxTake000.avi /VluxTake001.avi "$VORLUX_WORK/../x000.avi" "$VORLUX_WORK/x000.avi"; do
        [ ! -e "$stray" ] || fail "a movie went to $stray"
    done
}
[ ! -e /VluxTake000.avi ] || fail "/VluxTake000.avi is there before the test"

# First start: the store is created with its defaults.
start_program
echo "panel $panel on depth $depth"
only_the_panel_visible "at start-up"
end_program

# A directory stored as a number and a width the engine refuses.
vorlux_reg_set Path Directory REG_DWORD 1
vorlux_reg_set Movie Width REG_DWORD 4294967295
start_program
[ "$(vorlux_reg_value Movie Width)" = 0x190 ] || fail "the refused width was not written back ($(vorlux_reg_value Movie Width))"
[ "$(vorlux_reg_value Movie Left)/$(vorlux_reg_value Movie Top)/$(vorlux_reg_value Movie Height)" = 0x0/0x0/0x12c ] \
    || fail "the default area was not written back"
record 2
movie=$VORLUX_PROG/VluxTake000.avi
expect_default_area_movie "$movie" movie "directory a number, width 0xFFFFFFFF"
expected=$("$VORLUX_WINE64" winepath -w "$movie" 2>/dev/null | tr -d '\r')
[ "$(vorlux_reg_value Movie LastMovieRecorded)" = "$expected" ] || fail "LastMovieRecorded is $(vorlux_reg_value Movie LastMovieRecorded)"
only_the_panel_visible "after a hot-key start and stop"
no_stray_movie
end_program

# A directory longer than a path, a base name that leads out of it, a left edge stored as text.
vorlux_reg_set Path Directory REG_SZ "$(printf 'd%.0s' $(seq 300))"
vorlux_reg_set Path Filename REG_SZ '..\..\x'
vorlux_reg_set Movie Left REG_SZ abc
start_program
record 1
movie=$VORLUX_PROG/VluxTake001.avi
expect_default_area_movie "$movie" "second movie" "directory too long, name leading out, left edge text"
[ "$(vorlux_reg_value Movie Left)" = 0x0 ] || fail "the refused left edge was not written back"
only_the_panel_visible "after a second hot-key start and stop"
no_stray_movie
end_program

# A disk too full for even a movie's headers, as drive E:.
vorlux_mount_tmpfs "$disk" 1m
vorlux_map_drive E "$disk"
printf 'older movie' >"$disk/VluxTake.avi"
dd if=/dev/zero of="$disk/fill" bs=4096 2>/dev/null || true
[ "$(df --output=avail -B1 "$disk" | tail -1 | tr -d ' ')" = 0 ] || fail "the disk is not full"
vorlux_reg_set Path Directory REG_SZ 'E:'
vorlux_reg_set Path Filename REG_SZ VluxTake
before=$(vorlux_reg_value Movie LastMovieRecorded)
start_program
for numbered in 0 1; do
    vorlux_reg_set Path AutoIncrement REG_DWORD $numbered
    key ctrl+shift+F5
    answer_low_disk "on a full disk (numbered $numbered)"
    box=$(vorlux_wait_window '^Could not start recording$' 60) || fail "a start on a full disk did not fail (numbered $numbered)"
    listing=$(cd "$disk" && ls -A | sort | tr '\n' ' ')
    echo "full disk, numbered $numbered: E: holds $listing"
    [ "$listing" = "VluxTake.avi fill " ] || fail "a failed start left E: holding $listing"
    [ "$(cat "$disk/VluxTake.avi")" = 'older movie' ] || fail "the movie a failed start was to replace is gone"
    [ "$(vorlux_reg_value Movie LastMovieRecorded)" = "$before" ] || fail "LastMovieRecorded names the failed start's movie"
    vorlux_focus "$box"
    xdotool key Return
    vorlux_wait_gone '^Could not start recording$' 30 || fail "the message box stayed"
done
# With room again, the first number is still free. A 1 MiB drive still asks first.
rm "$disk/fill"
key ctrl+shift+F5
answer_low_disk "on a small disk"
sleep 1
key ctrl+shift+F6
vorlux_wait_file "$disk/VluxTake000.avi" 60 || fail "no E:\\VluxTake000.avi once the disk has room"
sleep 2
echo "E:\\VluxTake000.avi after the failed starts: $(probe_size "$disk/VluxTake000.avi")"
only_the_panel_visible "after the failed starts"
end_program
echo "PASS"
