#!/usr/bin/env bash
# The whole program meeting what it cannot do, in a clean Wine prefix:
# - a movie recorded onto a small disk (a tmpfs mapped as drive E:) until the disk is full: the
#   program lives on, shows its panel again and one message box; the movie decodes without
#   errors and holds as many frames as its header says; a snapshot on the full disk is refused
#   and leaves no file; the next recording to a good directory works;
# - a hot key that another program (e2e_helper) holds: the program names exactly that key, and
#   the other three keys work;
# - a second start while the low-disk question is open (one movie, the program lives), "No" to
#   the question (the last movie stays), and the pause label after a stop and a new start;
# - the sound server killed in the middle of a recording with sound: the recording ends by itself
#   and says the sound device stopped.
#   faults.sh x86_64 PATH/vorlux.exe PATH/e2e_helper.exe
# Needs root for the mount (CI runs as root). VORLUX_DEPTH picks the display as in e2e.sh.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=faults.sh
fail() { vorlux_fail "$@"; }
helper_exe=$3
depth=${VORLUX_DEPTH:-24}
vorlux_program_setup "$1" "$2"
disk=$VORLUX_WORK/disk
vorlux_mount_tmpfs "$disk" 8m
mkdir "$disk/clips"
vorlux_map_drive E "$disk"
cp "$helper_exe" "$VORLUX_PROG/e2e_helper.exe" || fail "cannot copy $helper_exe"

helper() { "$VORLUX_RUN" "$VORLUX_PROG/e2e_helper.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
wait_window() { vorlux_wait_window "$@"; }
wait_file() { vorlux_wait_file "$@"; }
key() {  # the panel must have the X focus for a hot key to arrive; it may just be reappearing
    panel=$(wait_window '^Vorlux 3\.0$' 10) || fail "no panel to give the key $1"
    vorlux_key "$panel" "$1"
}
control_is() {  # id text seconds: the panel's control shows the text within the time
    local got=""
    for _ in $(seq "$3"); do
        got=$(helper control 'Vorlux 3.0' "$1" || true)
        [ "$got" = "$2" ] && return 0
        sleep 1
    done
    echo "control $1 shows '$got', expected '$2'" >&2
    return 1
}
reg_set() { vorlux_reg_set "$@"; }
# A start onto a small disk asks first; the answer is Yes. Elsewhere it may or may not ask.
answer_low_disk() {  # seconds to wait for the question
    if helper text 'Low disk space' "$1" >"$VORLUX_WORK/question"; then
        helper press 'Low disk space' 6 >/dev/null  # IDYES
        return 0
    fi
    return 1
}
# A movie places frames by time: a slot the recording could not fill is an empty sample, which
# the header and the index count and a decoder skips. Checks that the header's frame counts
# (avih dwTotalFrames, the video strh dwLength, dmlh when there) agree with the video index,
# that ffmpeg decodes without errors, and that ffprobe reads every sample that holds a frame.
# Prints the header's count (the movie's length in frames).
check_movie() {  # path
    local movie=$1 errors probe decoded counts header entries filled extra
    errors=$(ffmpeg -v error -i "$movie" -f null - 2>&1 | head -5)
    [ -z "$errors" ] || fail "ffmpeg decode errors in $movie: $errors"
    probe=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of default=noprint_wrappers=1:nokey=1 "$movie")
    decoded=${probe//[^0-9]/}
    counts=$(python3 - "$movie" <<'EOF'
import struct, sys
d = open(sys.argv[1], 'rb').read()
u32 = lambda o: struct.unpack_from('<I', d, o)[0]
u64 = lambda o: struct.unpack_from('<Q', d, o)[0]
hdrl_end = 20 + u32(16)  # RIFF header, then LIST hdrl
def find(tag):  # data of the first chunk `tag` in the header list
    at = d.find(tag, 0, hdrl_end)
    return at + 8 if at >= 0 else -1
header = {u32(find(b'avih') + 16), u32(find(b'strh') + 32)}
if find(b'dmlh') >= 0:
    header.add(u32(find(b'dmlh')))
# The video stream's super index (indx), each entry pointing at a standard index (ix00).
sizes = []
indx = find(b'indx')
for i in range(u32(indx + 4) if indx >= 0 else 0):
    ix = u64(indx + 24 + 16 * i) + 8
    sizes += [u32(ix + 24 + 8 * k + 4) & 0x7FFFFFFF for k in range(u32(ix + 4))]
print(len(sizes), sum(1 for s in sizes if s), ' '.join(str(h) for h in sorted(header)))
EOF
)
    read -r entries filled header extra <<<"$counts"
    [ -z "$extra" ] || fail "$movie: the header's frame counts disagree: $counts"
    [ "$header" = "$entries" ] || fail "$movie: header says $header frames, the index holds $entries"
    [ "$filled" = "$decoded" ] || fail "$movie: the index holds $filled frames, ffprobe read $decoded"
    echo "$movie: $header frame slots in header and index, $decoded frames decoded without errors" >&2
    echo "$header"
}

# ---- a movie that fills its disk ----------------------------------------------------------------
"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/first.out" 2>&1 &
first=$!
VORLUX_PIDS+=("$first")
panel=$(wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear"
echo "panel $panel on depth $depth"

# Read afresh at every command: 640 x 480 at 25 frames a second, onto E:, the panel hidden.
reg_set Movie Left REG_DWORD 0
reg_set Movie Top REG_DWORD 0
reg_set Movie Width REG_DWORD 640
reg_set Movie Height REG_DWORD 480
reg_set Movie FramesPerSecond REG_DWORD 25
reg_set Movie VorluxMode REG_DWORD 1
reg_set Path Directory REG_SZ 'E:\clips'

"$VORLUX_RUN" "$VORLUX_PROG/e2e_helper.exe" noise 640 480 600 </dev/null >/dev/null 2>&1 &
VORLUX_PIDS+=("$!")
wait_window '^vorlux test noise$' 60 >/dev/null || fail "no moving content"

key ctrl+shift+F5
answer_low_disk 30 || fail "a start onto an 8 MiB disk did not ask about the room"
echo "asked: $(cat "$VORLUX_WORK/question")"
grep -q 'E:\\clips' "$VORLUX_WORK/question" || fail "the question does not name the directory: $(cat "$VORLUX_WORK/question")"

text=$(helper text 'Recording stopped' 180) || fail "no message box after the disk filled"
echo "told: $text"
visible=$(xdotool search --onlyvisible --name '^Vorlux 3\.0$' | wc -l)
[ "$visible" -ge 1 ] || fail "the panel did not show itself again"
pattern='^The disk is full\. The movie E:\\clips\\VluxTake000\.avi keeps the first 0:[0-9][0-9]\.$'
[[ $text =~ $pattern ]] || fail "message '$text'"
boxes=$(xdotool search --name '^Recording stopped$' | wc -l)
[ "$boxes" -eq 1 ] || fail "$boxes message boxes"
helper press 'Recording stopped' 1 >/dev/null
sleep 1
kill -0 "$first" 2>/dev/null || fail "the program ended"

movie=$disk/clips/VluxTake000.avi
[ -s "$movie" ] || fail "no movie on E:"
frames=$(check_movie "$movie")
echo "E: movie: $frames frame slots in $(stat -c %s "$movie") bytes on a disk of $(df -k --output=size "$disk" | tail -1) KiB"
[ "$frames" -ge 1 ] || fail "the movie on E: holds no frame"
seconds=$((frames / 25))
[[ $text == *"keeps the first 0:$(printf %02d "$seconds")."* ]] || fail "message says '$text' for $frames frames"

# A snapshot on the full disk: refused in words, and no file left.
head -c 64M /dev/zero >"$disk/filler" 2>/dev/null || true
key ctrl+shift+F8
snap=$(helper text 'Could not capture frame' 60) || fail "no message for a snapshot on a full disk"
echo "told: $snap"
[[ $snap == 'The frame could not be saved as E:\clips\VluxTake000.bmp: '* ]] || fail "snapshot message '$snap'"
helper press 'Could not capture frame' 1 >/dev/null
[ -z "$(ls "$disk/clips" | grep -i '\.bmp$' || true)" ] || fail "a snapshot file was left on the full disk"
rm -f "$disk/filler"

# The next recording, to a good directory, works. The panel stays on the screen this time: under
# Wine a hot key arrives only while one of the program's windows has the focus.
reg_set Path Directory REG_SZ '%c'
reg_set Movie VorluxMode REG_DWORD 0
key ctrl+shift+F5
answer_low_disk 5 || true
sleep 3
key ctrl+shift+F6
good=$VORLUX_PROG/VluxTake000.avi
wait_file "$good" 60 || fail "no recording after the full disk"
sleep 2
good_frames=$(check_movie "$good")
[ "$good_frames" -ge 10 ] || fail "the good recording has $good_frames frame slots"
echo "good movie: $good_frames frame slots"

# ---- commands while the low-disk question is open; "No"; the pause label after a stop ---------
# The question's own message loop delivers a second start (its hot key, and the start command as
# the Start button and the status icon's menu post it): refused, one movie, the program lives.
rm -f "$disk/clips/"*
reg_set Path Directory REG_SZ 'E:\clips'
reg_set Movie FramesPerSecond REG_DWORD 5  # two seconds of noise fit the small disk
key ctrl+shift+F5
box=$(wait_window '^Low disk space$' 30) || fail "a start onto E: did not ask about the room"
vorlux_key "$box" ctrl+shift+F5
helper post 'Vorlux 3.0' 1044 >/dev/null
sleep 2
boxes=$(xdotool search --name '^Low disk space$' | wc -l)
[ "$boxes" -eq 1 ] || fail "$boxes low-disk questions for one start"
helper press 'Low disk space' 6 >/dev/null  # IDYES
control_is 110 '&Stop Recording' 20 || fail "Yes did not start the recording"
sleep 2
key ctrl+shift+F6
control_is 110 '&Start Recording' 20 || fail "the stop key did not stop"
kill -0 "$first" 2>/dev/null || fail "the program ended after a second start during the question"
[ "$(ls "$disk/clips")" = VluxTake000.avi ] || fail "movies after one start: $(ls "$disk/clips")"
check_movie "$disk/clips/VluxTake000.avi" >/dev/null
last=$(vorlux_reg_value Movie LastMovieRecorded)
[ "$last" = 'E:\clips\VluxTake000.avi' ] || fail "LastMovieRecorded is '$last'"
# "No" makes no movie, and Play Movie stays on the last real one.
key ctrl+shift+F5
helper text 'Low disk space' 30 >/dev/null || fail "the second start onto E: did not ask"
helper press 'Low disk space' 7 >/dev/null  # IDNO
sleep 2
[ "$(vorlux_reg_value Movie LastMovieRecorded)" = "$last" ] || fail "No changed LastMovieRecorded"
# A stop ends the pause: the next recording's button offers to pause it.
reg_set Path Directory REG_SZ '%c'
key ctrl+shift+F5
answer_low_disk 5 || true
control_is 110 '&Stop Recording' 20 || fail "the recording did not start"
key ctrl+shift+F7
control_is 113 '&Resume Recording' 20 || fail "the pause key did not pause"
key ctrl+shift+F6
control_is 113 '&Pause Recording' 20 || fail "the pause label outlived the stop"
key ctrl+shift+F5
answer_low_disk 5 || true
control_is 110 '&Stop Recording' 20 || fail "the recording did not start again"
control_is 113 '&Pause Recording' 5 || fail "a running recording offers to resume"
key ctrl+shift+F6
control_is 110 '&Start Recording' 20 || fail "the stop key did not stop"

kill "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
grep -q '^Recording ended: the disk is full' <(tr -d '\r' <"$VORLUX_WORK/first.out") \
    || fail "standard output does not say why the recording ended"

# ---- a hot key that another program holds --------------------------------------------------------
"$VORLUX_RUN" "$VORLUX_PROG/e2e_helper.exe" hold 0x74 600 </dev/null >"$VORLUX_WORK/hold.out" 2>/dev/null &
VORLUX_PIDS+=("$!")
for _ in $(seq 60); do grep -q held "$VORLUX_WORK/hold.out" 2>/dev/null && break; sleep 1; done
grep -q held "$VORLUX_WORK/hold.out" || fail "the helper could not take Ctrl+Shift+F5"

"$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/second.out" 2>&1 &
second=$!
VORLUX_PIDS+=("$second")
panel=$(wait_window '^Vorlux 3\.0$' 300) || fail "the panel did not appear the second time"
keys=$(helper text 'Hot key not available' 60) || fail "the taken hot key was not reported"
echo "told: $keys"
[ "$keys" = 'Ctrl+Shift+F5 (Start Recording) is used by another program; choose another key on the Hot Keys page.' ] \
    || fail "hot key message '$keys'"
helper press 'Hot key not available' 1 >/dev/null
sleep 1

# The start comes from the Movie page's command; stop, pause and capture come from their keys.
helper post 'Vorlux 3.0' 1044 >/dev/null  # the start command, as the Start button posts it
answer_low_disk 5 || true
control_is 110 '&Stop Recording' 20 || fail "the recording did not start"
key ctrl+shift+F7
control_is 113 '&Resume Recording' 20 || fail "the pause key did not work"
key ctrl+shift+F7
control_is 113 '&Pause Recording' 20 || fail "the pause key did not work again"
key ctrl+shift+F6
control_is 110 '&Start Recording' 20 || fail "the stop key did not work"
key ctrl+shift+F8
wait_file "$VORLUX_PROG/VluxTake000.bmp" 30 || fail "the capture key did not work"
# The held key reaches the other program, not this one.
key ctrl+shift+F5
sleep 2
control_is 110 '&Start Recording' 1 || fail "Ctrl+Shift+F5 started a recording"
kill "$second" 2>/dev/null || true
wait "$second" 2>/dev/null || true

# ---- a sound server that dies in the middle of a recording --------------------------------------
# A private PulseAudio whose null sink's monitor is the source: silence at real time. Killed while
# the program records from it, the device hands nothing back any more and says nothing; the
# recording ends by itself with the sound-device message, the movie keeping what it has.
if command -v pulseaudio >/dev/null; then
    pulse=$VORLUX_WORK/pulse
    mkdir -p "$pulse/home" "$pulse/run" && chmod 700 "$pulse/run"
    HOME="$pulse/home" XDG_RUNTIME_DIR="$pulse/run" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --disallow-exit --use-pid-file=no --system=no \
        -L "module-native-protocol-unix socket=$pulse/native auth-anonymous=1" \
        -L "module-null-sink sink_name=quiet" </dev/null >"$pulse/log" 2>&1 &
    pulse_pid=$!
    VORLUX_PIDS+=("$pulse_pid")
    for _ in $(seq 50); do
        PULSE_SERVER="unix:$pulse/native" pactl set-default-source quiet.monitor >/dev/null 2>&1 && break
        sleep 0.2
    done
    PULSE_SERVER="unix:$pulse/native" pactl info >/dev/null 2>&1 || fail "the private PulseAudio did not start"
    reg_set Sound EnableSoundCapture REG_DWORD 1
    rm -f "$VORLUX_PROG"/VluxTake*.avi
    PULSE_SERVER="unix:$pulse/native" "$VORLUX_RUN" "$VORLUX_PROG/vorlux.exe" </dev/null >"$VORLUX_WORK/third.out" 2>&1 &
    third=$!
    VORLUX_PIDS+=("$third")
    wait_window '^Vorlux 3\.0$' 300 >/dev/null || fail "the panel did not appear the third time"
    helper post 'Vorlux 3.0' 1044 >/dev/null
    answer_low_disk 5 || true
    control_is 110 '&Stop Recording' 30 || fail "the recording with sound did not start"
    sleep 4
    kill -9 "$pulse_pid"
    text=$(helper text 'Recording stopped' 60) || fail "no message after the sound server died"
    echo "told: $text"
    [[ $text == 'The sound device stopped. The movie '*'VluxTake000.avi keeps the first 0:'* ]] \
        || fail "message '$text'"
    helper press 'Recording stopped' 1 >/dev/null
    control_is 110 '&Start Recording' 10 || fail "the panel still offers to stop"
    sound_frames=$(check_movie "$VORLUX_PROG/VluxTake000.avi")
    [ "$sound_frames" -ge 10 ] || fail "the movie with sound has $sound_frames frame slots"
    echo "movie with sound: $sound_frames frame slots"
    kill "$third" 2>/dev/null || true
    wait "$third" 2>/dev/null || true
    grep -q '^Recording ended: the sound device stopped' <(tr -d '\r' <"$VORLUX_WORK/third.out") \
        || fail "standard output does not say the sound device stopped"
else
    echo "no PulseAudio here: the lost sound server is not tried"
fi

echo "PASS"
