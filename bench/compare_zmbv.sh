#!/usr/bin/env bash
# ZMBV on the screen corpora: our encoder (avienc) beside FFmpeg's zmbv as it comes and with
# its motion search widened to the format's +-16 (ffmpeg16); one thread each, a key frame every
# 25, whole processes reading raw frames from disk and writing an AVI. Speed is the best of
# three runs, by the clock and by processor time (which a busy machine disturbs less); bytes
# are those of the whole file and of its frames alone (the writers' fixed headers and index
# space differ). True colour at 1024x768 (bench/data) and 640x480 (that screen's top-left
# corner), and the 640x480 RGB555 corpus. "lossless" is FFmpeg's PSNR of the decoded movie
# against the input: inf. Needs a Release build of avienc (not the sanitized one):
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target avienc
#   bench/compare_zmbv.sh build/release/bin
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?usage: compare_zmbv.sh BINDIR}
runs=3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inputs: bottom-up DIB frames for avienc, the same frames top-down for FFmpeg.
xz -dc "$here/data/screen_1024x768.bgr0.xz" >"$work/tc1024.dib"
ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s 1024x768 -i "$work/tc1024.dib" \
    -vf vflip,crop=640:480:0:0,vflip -f rawvideo -y "$work/tc640.dib"
gunzip -c "$here/data/screen_640x480.rgb555.gz" >"$work/hc640.dib"
for name in tc1024 tc640 hc640; do
    fmt=bgr0; size=640x480
    [ "$name" = tc1024 ] && size=1024x768
    [ "$name" = hc640 ] && fmt=rgb555le
    ffmpeg -v error -f rawvideo -pix_fmt $fmt -s $size -i "$work/$name.dib" -vf vflip -f rawvideo -y "$work/$name.td"
done

seconds() {  # command... -> best wall time and best processor time (user + system) of $runs runs
    local wall="" cpu=""
    for _ in $(seq $runs); do
        local times
        times=$(/usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -1)
        read -r w u k <<<"$times"
        wall=$(python3 -c "b='$wall'; print($w if not b else min(float(b), $w))")
        cpu=$(python3 -c "b='$cpu'; print($u + $k if not b else min(float(b), $u + $k))")
    done
    echo "$wall $cpu"
}

payload() {  # movie -> bytes of its video frames
    ffprobe -v error -select_streams 0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'
}

lossless() {  # movie input.td pix_fmt size -> yes/no (PSNR inf)
    local psnr
    psnr=$(ffmpeg -hide_banner -i "$1" -f rawvideo -pix_fmt "$3" -s "$4" -framerate 10 -i "$2" \
        -lavfi "[0:v]format=gbrp[a];[1:v]format=gbrp[b];[a][b]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9a-z.]*\).*/\1/p')
    [ "$psnr" = inf ] && echo yes || echo "no ($psnr dB)"
}

row() {  # encoder size bits frames "wall cpu" movie input.td pix_fmt
    local file frames wall cpu
    file=$(stat -c %s "$6")
    frames=$(payload "$6")
    read -r wall cpu <<<"$5"
    printf '%-8s %-10s %-5s %8.1f %8.1f %10d %10d %10d  %s\n' "$1" "$2" "$3" \
        "$(python3 -c "print($4 / max($wall, 0.01))")" "$(python3 -c "print($4 / max($cpu, 0.01))")" \
        "$file" "$frames" $((frames / $4)) "$(lossless "$6" "$7" "$8" "$2")"
}

printf '%-8s %-10s %-5s %8s %8s %10s %10s %10s  %s\n' encoder size bits fps cpu-fps file frames per-frame lossless
for name in tc640 tc1024 hc640; do
    fmt=bgr0; size=640x480; bits=32
    [ "$name" = tc1024 ] && size=1024x768
    [ "$name" = hc640 ] && fmt=rgb555le && bits=16
    w=${size%x*}; h=${size#*x}
    frames=$(( $(stat -c %s "$work/$name.td") / (w * h * bits / 8) ))

    # avienc is timed on the corpus four times over (50 frames, so every pass starts with a key
    # frame and costs the same): one pass takes too little time to measure well.
    for _ in 1 2 3 4; do cat "$work/$name.dib"; done >"$work/four.dib"
    t=$(seconds "$bin/avienc" --codec zmbv --size "$size" --bits $bits --fps 10 --keyframe 25 \
        "$work/four.dib" "$work/ours.avi")
    "$bin/avienc" --codec zmbv --size "$size" --bits $bits --fps 10 --keyframe 25 \
        "$work/$name.dib" "$work/ours.avi" >/dev/null
    row avienc "$size" $bits "$frames" "$(python3 -c "print(*(x / 4 for x in map(float, '$t'.split())))")" \
        "$work/ours.avi" "$work/$name.td" $fmt

    t=$(seconds ffmpeg -v error -threads 1 -f rawvideo -pix_fmt $fmt -s "$size" -framerate 10 -i "$work/$name.td" \
        -c:v zmbv -threads 1 -g 25 -keyint_min 25 -y "$work/ffmpeg.avi")
    row ffmpeg "$size" $bits "$frames" "$t" "$work/ffmpeg.avi" "$work/$name.td" $fmt

    # FFmpeg searches +-8 unless told; the format allows +-16, which follows a text line's scroll.
    t=$(seconds ffmpeg -v error -threads 1 -f rawvideo -pix_fmt $fmt -s "$size" -framerate 10 -i "$work/$name.td" \
        -c:v zmbv -threads 1 -g 25 -keyint_min 25 -me_range 16 -y "$work/ffmpeg.avi")
    row ffmpeg16 "$size" $bits "$frames" "$t" "$work/ffmpeg.avi" "$work/$name.td" $fmt
done
echo "(frames per second of the whole process by the clock and by its processor time, best of $runs;"
echo " bytes of the AVI file, of its frames, of a frame on average)"
