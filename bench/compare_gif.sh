#!/usr/bin/env bash
# Animated GIF and PNG on the screen corpora. GIF: our writer (gifenc) beside FFmpeg's best
# two-pass GIF (palettegen over every frame, then paletteuse with diff_mode=rectangle) on the
# same frames: bytes, PSNR of the decoded movie (FFmpeg's decoder, frames at their times)
# against the input, and processor time (user + system, best of three; gifenc's includes
# reading its input, FFmpeg's both passes). True colour at 1024x768 (bench/data) and the
# 640x480 8-bit corpus. PNG: the first ten true-colour frames and the first ten 8-bit ones,
# our bytes beside what `optipng -o1` makes of them, and our encoder's time per frame. Needs a
# Release build of gifenc (not the sanitized one):
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target gifenc
#   bench/compare_gif.sh build/release/bin
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?usage: compare_gif.sh BINDIR}
runs=3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inputs: bottom-up DIB frames for gifenc, the same frames top-down as RGB24 for FFmpeg and
# as the reference.
xz -dc "$here/data/screen_1024x768.bgr0.xz" >"$work/tc.dib"
ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s 1024x768 -i "$work/tc.dib" -vf vflip -f rawvideo -pix_fmt rgb24 \
    -y "$work/tc.rgb"
gunzip -c "$here/data/screen_640x480.pal8.gz" >"$work/p8.dib"
/usr/bin/python3 - "$work/p8.dib" "$here/data/screen_palette.bin" "$work/p8.rgb" <<'EOF'
import sys
frames, table, out = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), open(sys.argv[3], "wb")
lut = [bytes((table[4 * i + 2], table[4 * i + 1], table[4 * i])) for i in range(256)]
size = 640 * 480
for f in range(len(frames) // size):
    rows = [frames[f * size + y * 640: f * size + (y + 1) * 640] for y in range(480)]
    out.write(b"".join(b"".join(lut[i] for i in row) for row in reversed(rows)))
EOF

cpu_seconds() {  # command... -> best processor time of $runs runs
    local best=""
    for _ in $(seq $runs); do
        local t
        t=$(/usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1)
        best=$(python3 -c "u, s = map(float, '$t'.split()); b = '$best'; print(round(min(float(b), u + s) if b else u + s, 2))")
    done
    echo "$best"
}

psnr() {  # gif size reference -> average PSNR of the movie at 10 frames a second
    ffmpeg -hide_banner -i "$1" -f rawvideo -pix_fmt rgb24 -s "$2" -framerate 10 -i "$3" \
        -lavfi "[0:v]fps=10,format=rgb24[a];[a][1:v]psnr" -f null - 2>&1 | sed -n 's/.*average:\([0-9.inf]*\).*/\1/p'
}

ffmpeg_gif() {  # reference size out.gif
    ffmpeg -v error -threads 1 -f rawvideo -pix_fmt rgb24 -s "$2" -framerate 10 -i "$1" \
        -vf palettegen=stats_mode=diff -y "$3.png"
    ffmpeg -v error -threads 1 -f rawvideo -pix_fmt rgb24 -s "$2" -framerate 10 -i "$1" -i "$3.png" \
        -lavfi paletteuse=diff_mode=rectangle -y "$3"
}
export -f ffmpeg_gif

printf '%-22s %-8s %10s %8s %10s %10s\n' corpus encoder bytes PSNR 'cpu s' 'ms/frame'
row() {  # corpus size frames dib bits palette-args reference
    local corpus=$1 size=$2 frames=$3 dib=$4 bits=$5 palette=$6 ref=$7
    local ours ff
    ours=$(cpu_seconds "$bin/gifenc" --size "$size" --bits "$bits" --fps 10 $palette "$dib" "$work/ours.gif")
    ff=$(cpu_seconds bash -c "ffmpeg_gif '$ref' '$size' '$work/ff.gif'")
    for who in ours ff; do
        local secs=$ours name=gifenc
        [ $who = ff ] && secs=$ff name=ffmpeg
        printf '%-22s %-8s %10s %8s %10s %10s\n' "$corpus" $name "$(stat -c %s "$work/$who.gif")" \
            "$(psnr "$work/$who.gif" "$size" "$ref")" "$secs" \
            "$(python3 -c "print(f'{1000 * $secs / $frames:.1f}')")"
    done
}
row "true colour 1024x768" 1024x768 $(( $(stat -c %s "$work/tc.rgb") / (1024 * 768 * 3) )) "$work/tc.dib" 32 "" "$work/tc.rgb"
row "8-bit 640x480" 640x480 $(( $(stat -c %s "$work/p8.rgb") / (640 * 480 * 3) )) "$work/p8.dib" 8 \
    "--palette $here/data/screen_palette.bin" "$work/p8.rgb"

echo
printf '%-22s %12s %14s %10s\n' corpus 'our bytes' 'optipng -o1' 'cpu ms/frame'
png_row() {  # corpus size bits frame-bytes dib palette-args
    head -c $(( 10 * $4 )) "$5" >"$work/ten.dib"
    mkdir -p "$work/png" && rm -f "$work/png/"*
    local line
    line=$("$bin/gifenc" --size "$2" --bits "$3" --fps 10 --png $6 "$work/ten.dib" "$work/png/f")
    local ours opt=0
    ours=$(cat "$work/png/"*.png | wc -c)
    for f in "$work/png/"*.png; do
        optipng -quiet -o1 -out "$f.opt" "$f"
        opt=$(( opt + $(stat -c %s "$f.opt") ))
    done
    printf '%-22s %12s %14s %10s\n' "$1" "$ours" "$opt" "$(sed -n 's/.*cpu-ms\/frame //p' <<<"$line")"
}
png_row "true colour 1024x768" 1024x768 32 $(( 1024 * 768 * 4 )) "$work/tc.dib" ""
png_row "8-bit 640x480" 640x480 8 $(( 640 * 480 )) "$work/p8.dib" "--palette $here/data/screen_palette.bin"
