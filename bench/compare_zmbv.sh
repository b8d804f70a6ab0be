#!/usr/bin/env bash
# ZMBV on the screen corpora: our encoder (avienc) beside FFmpeg's zmbv as it comes and with its
# motion search widened to the format's +-16 (-me_range 16); one thread each, a key frame every
# 25, whole processes reading raw frames from disk and writing an AVI.
#
# Corpora (bench/data): the four recorded kinds of screen of bench/make_screen_corpus.sh
# (typing, windows, video, still; 640x480) at 32, 16 and 8 bits, and the older desktop corpora:
# desk1024 (true colour, 1024x768), desk640 (its top-left corner) and the 640x480 RGB555 and
# palettised recordings of bench/make_corpus.sh. 16 bits is RGB555 as a 16-bit screen shows it
# (the low bits cut off, no dither); 8 bits is the scene mapped without dither to a 256-colour
# palette made for it, the same for every frame.
#
# A second table says where the bytes go: key frames against the frames between them.
# Columns: our bytes and frames per second of processor time, FFmpeg's default and with
# -me_range 16 the same, then what the goals ask: our bytes at most 90 % of FFmpeg's default
# and at most FFmpeg's at +-16, at least 3 times FFmpeg's default speed, and every frame of our
# movie exact (FFmpeg's PSNR of the decoded movie against the input: inf). Bytes are those of
# the video frames (the writers' fixed headers and index space differ); speed is the best of
# $RUNS runs (3 unless set) by the process's processor time, which a busy machine disturbs less
# than the clock. Needs a Release build of avienc (not the sanitized one):
#   cmake -S . -B build/native-rel -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/native-rel --target avienc
#   bench/compare_zmbv.sh build/native-rel/bin [corpus-pattern]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:?usage: compare_zmbv.sh BINDIR [corpus-pattern]}" && pwd)
only=${2:-}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 8-bit frames: FFmpeg's raw pal8 frames (top-down, the 1024-byte palette B,G,R,A after each)
# to bottom-up DIB frames and the DIB colour table, or back.
pal8_to_dib() {  # td dib pal width height
    python3 - "$@" <<'EOF'
import sys
td, dib, pal, w, h = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
data = open(td, 'rb').read()
size = w * h + 1024
stride = (w + 3) & ~3
with open(dib, 'wb') as out:
    for at in range(0, len(data) - size + 1, size):
        for y in range(h - 1, -1, -1):
            out.write(data[at + y * w: at + y * w + w] + bytes(stride - w))
p = bytearray(data[w * h: w * h + 1024])
p[3::4] = bytes(256)
open(pal, 'wb').write(p)
EOF
}
dib_to_pal8() {  # dib pal td width height
    python3 - "$@" <<'EOF'
import sys
dib, pal, td, w, h = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
data = open(dib, 'rb').read()
p = bytearray(open(pal, 'rb').read(1024))
p[3::4] = b'\xff' * 256
stride = (w + 3) & ~3
with open(td, 'wb') as out:
    for at in range(0, len(data) - stride * h + 1, stride * h):
        for y in range(h - 1, -1, -1):
            out.write(data[at + y * stride: at + y * stride + w])
        out.write(p)
EOF
}

# Makes $work/NAME.dib (avienc's input), NAME.td (FFmpeg's) and for 8 bits NAME.pal from
# bottom-up BGRX frames.
from_truecolour() {  # name bgr0-file size bits
    local name=$1 src=$2 size=$3 bits=$4
    local raw="-f rawvideo -s $size"
    case $bits in
    32) cp "$src" "$work/$name.dib"
        ffmpeg -v error $raw -pix_fmt bgr0 -i "$src" -vf vflip $raw -y "$work/$name.td" ;;
    16) ffmpeg -v error $raw -pix_fmt bgr0 -i "$src" -vf vflip -sws_flags neighbor+bitexact -sws_dither none \
            -pix_fmt rgb555le $raw -y "$work/$name.td"
        ffmpeg -v error $raw -pix_fmt rgb555le -i "$work/$name.td" -vf vflip $raw -y "$work/$name.dib" ;;
    8)  ffmpeg -v error $raw -pix_fmt bgr0 -i "$src" -vf palettegen=reserve_transparent=0:stats_mode=full \
            -y "$work/palette.png"
        ffmpeg -v error $raw -pix_fmt bgr0 -i "$src" -i "$work/palette.png" \
            -lavfi "[0:v]vflip[v];[v][1:v]paletteuse=dither=none" -pix_fmt pal8 $raw -y "$work/$name.td" </dev/null
        pal8_to_dib "$work/$name.td" "$work/$name.dib" "$work/$name.pal" "${size%x*}" "${size#*x}" ;;
    esac
}

corpora=()  # name size bits
add() {
    [ -z "$only" ] || [[ $1 == *$only* ]] || return 0
    corpora+=("$1 $2 $3")
}
for kind in typing windows video still; do
    for bits in 32 16 8; do add "$kind" 640x480 $bits; done
done
add desk640 640x480 32
add desk1024 1024x768 32
add desk640 640x480 16
add desk640 640x480 8

for c in "${corpora[@]}"; do
    read -r name size bits <<<"$c"
    id=$name.$bits
    case $name in
    desk1024|desk640)
        [ -f "$work/desk1024.bgr0" ] || xz -dc "$here/data/screen_1024x768.bgr0.xz" >"$work/desk1024.bgr0"
        if [ "$name.$bits" = desk1024.32 ]; then
            from_truecolour "$id" "$work/desk1024.bgr0" "$size" 32
        elif [ "$bits" = 32 ]; then
            ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s 1024x768 -i "$work/desk1024.bgr0" \
                -vf vflip,crop=640:480:0:0,vflip -f rawvideo -y "$work/desk640.bgr0"
            from_truecolour "$id" "$work/desk640.bgr0" "$size" 32
        elif [ "$bits" = 16 ]; then
            gunzip -c "$here/data/screen_640x480.rgb555.gz" >"$work/$id.dib"
            ffmpeg -v error -f rawvideo -pix_fmt rgb555le -s "$size" -i "$work/$id.dib" -vf vflip -f rawvideo \
                -y "$work/$id.td"
        else
            gunzip -c "$here/data/screen_640x480.pal8.gz" >"$work/$id.dib"
            cp "$here/data/screen_palette.bin" "$work/$id.pal"
            dib_to_pal8 "$work/$id.dib" "$work/$id.pal" "$work/$id.td" 640 480
        fi ;;
    *)  xz -dc "$here/data/scene_${name}_640x480.bgr0.xz" >"$work/scene.bgr0"
        from_truecolour "$id" "$work/scene.bgr0" "$size" "$bits" ;;
    esac
done

cpu_seconds() {  # command... -> best processor time (user + system) of $runs runs
    local best=""
    for _ in $(seq "$runs"); do
        local u k
        read -r u k < <(/usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1)
        best=$(python3 -c "b='$best'; t=$u+$k; print(t if not b else min(float(b), t))")
    done
    echo "$best"
}

payload() {  # movie -> bytes of its video frames
    ffprobe -v error -select_streams 0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'
}
key_payload() {  # movie -> bytes of its key frames
    ffprobe -v error -select_streams 0 -show_entries packet=size,flags -of csv=p=0 "$1" |
        awk -F, '$2 ~ /K/ {s += $1} END {print s + 0}'
}
ratio() { python3 -c "print('%.2f' % (($1) / max(($2), 1)))"; }

lossless() {  # movie input.td pix_fmt size -> yes/no (PSNR inf)
    local psnr
    psnr=$(ffmpeg -hide_banner -i "$1" -f rawvideo -pix_fmt "$3" -s "$4" -framerate 10 -i "$2" \
        -lavfi "[0:v]format=gbrp[a];[1:v]format=gbrp[b];[a][b]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9a-z.]*\).*/\1/p')
    [ "$psnr" = inf ] && echo yes || echo "no($psnr)"
}

fps() { python3 -c "print('%.0f' % ($1 / max($2, 0.005)))"; }

printf '%-9s %-9s %4s %9s %6s %9s %6s %9s %6s %6s %6s %6s %6s  %s\n' corpus size bits ours fps \
    ffmpeg fps ff-me16 fps "/ff" "/ff16" speed exact goals
misses=0
where=()  # where the bytes go, a line per row, printed after the table
for c in "${corpora[@]}"; do
    read -r name size bits <<<"$c"
    id=$name.$bits
    fmt=bgr0
    [ "$bits" = 16 ] && fmt=rgb555le
    [ "$bits" = 8 ] && fmt=pal8
    w=${size%x*}; h=${size#*x}
    frames=$(( $(stat -c %s "$work/$id.td") / (w * h * bits / 8 + (bits == 8 ? 1024 : 0)) ))
    palette=()
    [ "$bits" = 8 ] && palette=(--palette "$work/$id.pal")

    # avienc is timed on the corpus four times over (50 frames, so every pass starts with a key
    # frame and costs the same): one pass takes too little time to measure well.
    for _ in 1 2 3 4; do cat "$work/$id.dib"; done >"$work/four.dib"
    ours=(--codec zmbv --size "$size" --bits "$bits" --fps 10 --keyframe 25 "${palette[@]}")
    t=$(cpu_seconds "$bin/avienc" "${ours[@]}" "$work/four.dib" "$work/ours.avi")
    ours_fps=$(fps $((4 * frames)) "$t")
    "$bin/avienc" "${ours[@]}" "$work/$id.dib" "$work/ours.avi" >/dev/null
    ours_bytes=$(payload "$work/ours.avi")
    exact=$(lossless "$work/ours.avi" "$work/$id.td" $fmt "$size")

    ff=(ffmpeg -v error -threads 1 -f rawvideo -pix_fmt $fmt -s "$size" -framerate 10 -i "$work/$id.td"
        -c:v zmbv -threads 1 -g 25 -keyint_min 25)
    t=$(cpu_seconds "${ff[@]}" -y "$work/ff.avi")
    ff_fps=$(fps "$frames" "$t")
    ff_bytes=$(payload "$work/ff.avi")
    t=$(cpu_seconds "${ff[@]}" -me_range 16 -y "$work/ff16.avi")
    ff16_fps=$(fps "$frames" "$t")
    ff16_bytes=$(payload "$work/ff16.avi")

    ours_key=$(key_payload "$work/ours.avi")
    ff_key=$(key_payload "$work/ff.avi")
    where+=("$(printf '%-9s %4s %8s %8s %10s %10s' "$name" "$bits" "$(ratio "$ff_key" "$ff_bytes")" \
        "$(ratio "$ff_key * 10" "$ff_bytes * 9")" "$(ratio "$ours_key" "$ff_key")" \
        "$(ratio "$ours_bytes - $ours_key" "$ff_bytes - $ff_key")")")

    goals=ok
    (( ours_bytes * 10 <= ff_bytes * 9 )) || goals="$goals,>90%"
    (( ours_bytes <= ff16_bytes )) || goals="$goals,>me16"
    (( ours_fps >= 3 * ff_fps )) || goals="$goals,slow"
    [ "$exact" = yes ] || goals="$goals,inexact"
    [ "$goals" = ok ] || { goals=${goals#ok,}; misses=$((misses + 1)); }
    printf '%-9s %-9s %4s %9d %6s %9d %6s %9d %6s %6s %6s %6s %6s  %s\n' "$name" "$size" "$bits" \
        "$ours_bytes" "$ours_fps" "$ff_bytes" "$ff_fps" "$ff16_bytes" "$ff16_fps" \
        "$(python3 -c "print('%.2f' % ($ours_bytes / $ff_bytes))")" \
        "$(python3 -c "print('%.2f' % ($ours_bytes / $ff16_bytes))")" \
        "$(python3 -c "print('%.1f' % ($ours_fps / max($ff_fps, 1)))")" "$exact" "$goals"
done
echo "(bytes of the video frames; frames per second of processor time, best of $runs; /ff and /ff16: our"
echo " bytes over FFmpeg's; speed: our frames per second over FFmpeg's default; $misses row(s) missing a goal)"
echo
# Key frames are the frame deflated whole, in both encoders: FFmpeg's at zlib's level 9. Where its
# key frames alone pass 90 % of its bytes (key/goal above 1), no zlib key frame can meet the 90 %
# goal, whatever the frames between them cost.
printf '%-9s %4s %8s %8s %10s %10s\n' corpus bits "ff key" key/goal "key ours" "inter ours"
for line in "${where[@]}"; do echo "$line"; done
echo "(ff key: FFmpeg's key frames' share of its bytes; key/goal: its key frames over 90 % of its bytes;"
echo " key ours, inter ours: our key frames' and other frames' bytes over FFmpeg's)"
