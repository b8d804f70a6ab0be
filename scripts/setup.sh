#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    cmake ninja-build g++ googletest libbenchmark-dev zlib1g-dev libz-mingw-w64-dev
    wine wine64 wine32:i386
    xvfb xdotool x11-utils x11-apps ffmpeg
    alsa-utils pulseaudio pulseaudio-utils
    python3-minimal python3-pil optipng nsis wkhtmltopdf
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
