# Sourced by scripts/test.sh: a wave-in device for the sound tests on a machine without a sound
# card. A private PulseAudio records a known tone from a FIFO fed by FFmpeg; if it cannot start,
# ALSA's null device records silence and the tone-checking tests skip.
# A second pipe source, "beeps", is left for a test to feed itself (sound_sync_tests, which pick
# it with PULSE_SOURCE): a recording stream keeps it reading, so that nothing written before a
# test's recording waits in the FIFO and delays what comes after.
#   exports: PULSE_SERVER, VORLUX_TONE_HZ (tone) and VORLUX_BEEP_FIFO, or HOME with a null
#   .asoundrc (silence)
vorlux_sound_setup() {
    local dir tone_hz=1000 server pulse_pid feeder_pid keeper_pid
    dir=$(mktemp -d /tmp/vorlux-sound.XXXXXX) || return 1
    mkdir -p "$dir/home" "$dir/run" && chmod 700 "$dir/run"
    printf 'pcm.!default { type null }\n' >"$dir/home/.asoundrc"

    if command -v pulseaudio >/dev/null && command -v ffmpeg >/dev/null; then
        server="$dir/run/native"
        HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
            --disallow-exit --use-pid-file=no --system=no \
            -L "module-native-protocol-unix socket=$server auth-anonymous=1" \
            -L "module-pipe-source source_name=tone file=$dir/tone.fifo format=s16le rate=44100 channels=2" \
            -L "module-pipe-source source_name=beeps file=$dir/beeps.fifo format=s16le rate=22050 channels=1" \
            -L "module-null-sink sink_name=silent" \
            </dev/null >"$dir/pulse.log" 2>&1 &
        pulse_pid=$!
        for _ in $(seq 50); do
            [ -p "$dir/tone.fifo" ] && PULSE_SERVER="unix:$server" pactl set-default-source tone >/dev/null 2>&1 \
                && break
            sleep 0.1
        done
        if [ -p "$dir/tone.fifo" ] && PULSE_SERVER="unix:$server" pactl info >/dev/null 2>&1; then
            # -re paces the tone at its real rate, as a sound card would deliver it.
            ffmpeg -nostdin -loglevel error -re -f lavfi -i "sine=frequency=$tone_hz:sample_rate=44100" \
                -ac 2 -f s16le -y "$dir/tone.fifo" </dev/null >"$dir/ffmpeg.log" 2>&1 &
            feeder_pid=$!
            PULSE_SERVER="unix:$server" pacat --record --device=beeps --raw </dev/null >/dev/null 2>&1 &
            keeper_pid=$!
            VORLUX_TEST_CLEANUP="${VORLUX_TEST_CLEANUP:+$VORLUX_TEST_CLEANUP; }kill $feeder_pid $keeper_pid $pulse_pid 2>/dev/null; rm -rf '$dir'"
            export PULSE_SERVER="unix:$server" VORLUX_TONE_HZ=$tone_hz VORLUX_BEEP_FIFO=$dir/beeps.fifo
            return 0
        fi
        kill "$pulse_pid" 2>/dev/null
        echo "sound.sh: PulseAudio did not start (see $dir/pulse.log); recording silence" >&2
    fi
    VORLUX_TEST_CLEANUP="${VORLUX_TEST_CLEANUP:+$VORLUX_TEST_CLEANUP; }rm -rf '$dir'"
    export HOME="$dir/home"
    unset VORLUX_TONE_HZ VORLUX_BEEP_FIFO
}
vorlux_sound_setup
unset -f vorlux_sound_setup
