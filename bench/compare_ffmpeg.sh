#!/usr/bin/env bash
# Video 1 on the screen corpus: our encoder (avienc) beside FFmpeg's msvideo1, one thread
# each, key frame every 25; frames per second, bytes per frame and PSNR against the RGB555
# input. Needs a Release build of avienc (not the sanitized one):
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel --target avienc avi_bench
#   bench/compare_ffmpeg.sh build-rel/bin [quality]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?usage: compare_ffmpeg.sh BINDIR [quality]}
quality=${2:-10000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gunzip -c "$here/data/screen_640x480.rgb555.gz" >"$work/in.rgb555"
frames=$(( $(stat -c %s "$work/in.rgb555") / (640 * 480 * 2) ))

psnr() {  # movie -> average PSNR against the input
    ffmpeg -hide_banner -i "$1" -f rawvideo -framerate 10 -pix_fmt rgb555le -s 640x480 -i "$work/in.rgb555" \
        -lavfi "[0:v]format=gbrp[a];[1:v]vflip,format=gbrp[b];[a][b]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9.]*\).*/\1/p'
}

ours=$("$bin/avienc" --codec msvc --size 640x480 --bits 16 --fps 10 --keyframe 25 --quality "$quality" \
    "$work/in.rgb555" "$work/ours.avi")
ours_fps=$(sed -n 's/^fps //p' <<<"$ours")
ours_bytes=$(stat -c %s "$work/ours.avi")

# Timed over ten passes so start-up does not count; the output compared is a single pass.
start=$(date +%s.%N)
ffmpeg -v error -threads 1 -stream_loop 9 -f rawvideo -pix_fmt rgb555le -s 640x480 -framerate 10 -i "$work/in.rgb555" \
    -vf vflip -c:v msvideo1 -threads 1 -g 25 -f null -
end=$(date +%s.%N)
ffmpeg -v error -threads 1 -f rawvideo -pix_fmt rgb555le -s 640x480 -framerate 10 -i "$work/in.rgb555" \
    -vf vflip -c:v msvideo1 -threads 1 -g 25 -y "$work/ffmpeg.avi"
ff_fps=$(python3 -c "print(f'{10 * $frames / ($end - $start):.1f}')")
ff_bytes=$(stat -c %s "$work/ffmpeg.avi")

printf '%-10s %8s %14s %8s\n' encoder fps bytes/frame PSNR
printf '%-10s %8s %14s %8s\n' avienc "$ours_fps" $((ours_bytes / frames)) "$(psnr "$work/ours.avi")"
printf '%-10s %8s %14s %8s\n' ffmpeg "$ff_fps" $((ff_bytes / frames)) "$(psnr "$work/ffmpeg.avi")"
echo "($frames frames; ffmpeg's time includes reading and flipping its input)"
