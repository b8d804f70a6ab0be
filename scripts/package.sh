#!/usr/bin/env bash
# Makes the release: for each target a stripped, static release build (build/release-TARGET,
# apart from the test builds), checked against what Windows 7 SP1 has, and in dist/
#   vorlux-MAJOR.MINOR-TARGET-setup.exe      the setup program (installer/vorlux.nsi)
#   vorlux-MAJOR.MINOR-TARGET-portable.zip   program, player, help, README.txt and an empty
#                                            vorlux-settings.ini; the same bytes on every run
#   SHA256SUMS                               of every file above
#   scripts/package.sh [i686|x86_64|all]      (default all)
# The version is CMakeLists.txt's project VERSION, which the version resource and the About page
# also show. The tests package a build tree they already have:
#   scripts/package.sh --from BIN_DIR TARGET OUT_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
VORLUX_SCRIPT=package.sh

version=$(sed -n 's/^project(Vorlux VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || die "no project VERSION in CMakeLists.txt"
short=${version%.*}
# The manifest cannot take the version from CMake; it must at least agree.
grep -q "version=\"$version.0\"" "$root/app/vorlux.manifest" || die "app/vorlux.manifest does not say version $version.0"
release_epoch=1767225600  # 2026-01-01 00:00 UTC, the date scripts/make-zip.py gives every entry
help_pictures=(panel-movie panel-sound panel-destination panel-hotkeys panel-about capture-area framer status-menu)

# A static release build of the program, its player and its help.
release_build() {  # target
    local target=$1 build=${VORLUX_BUILD_ROOT:-$root/build}/release-$1
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake" \
            -DCMAKE_EXE_LINKER_FLAGS="-s -Wl,--no-insert-timestamp" >"$build.log" 2>&1 \
            || { tail -20 "$build.log" >&2; die "configuring the $target release failed (see $build.log)"; }
    fi
    cmake --build "$build" --target vorlux vored102 vorlux_help >>"$build.log" 2>&1 \
        || { tail -30 "$build.log" >&2; die "the $target release build failed (see $build.log)"; }
    echo "$build/bin"
}

# The installed files in STAGE/files, and files.nsh naming them for the setup program.
stage() {  # target bin stage
    local target=$1 bin=$2 stage=$3 strip=$1-w64-mingw32-strip f
    rm -rf "$stage" && mkdir -p "$stage/files/vorlux-help" || die "cannot make $stage"
    for f in vorlux.exe vored102.exe vorlux-help.html; do
        [ -f "$bin/$f" ] || die "no $f in $bin"
        cp "$bin/$f" "$stage/files/$f"
    done
    for f in "${help_pictures[@]}"; do
        cp "$bin/vorlux-help/$f.png" "$stage/files/vorlux-help/" || die "no help picture $f.png in $bin"
    done
    # strip stamps the programs with the time unless given one: the zip's own date, so that the
    # same build packs into the same bytes.
    SOURCE_DATE_EPOCH=$release_epoch "$strip" --strip-all "$stage/files/vorlux.exe" "$stage/files/vored102.exe" \
        || die "stripping failed"
    "$root/scripts/check-imports.sh" "$stage/files/vorlux.exe" "$stage/files/vored102.exe"
    cp "$root/app/art/vorlux.ico" "$stage/vorlux.ico"
    {
        echo "; Written by scripts/package.sh: the installed files, to install and to remove."
        echo '!ifdef INSTALL_FILES'
        echo 'SetOutPath "$INSTDIR"'
        for f in vorlux.exe vored102.exe vorlux-help.html; do echo "File \"$stage/files/$f\""; done
        echo 'SetOutPath "$INSTDIR\vorlux-help"'
        for f in "${help_pictures[@]}"; do echo "File \"$stage/files/vorlux-help/$f.png\""; done
        echo 'SetOutPath "$INSTDIR"'
        echo '!endif'
        echo '!ifdef UNINSTALL_FILES'
        for f in vorlux.exe vored102.exe vorlux-help.html; do echo "Delete \"\$INSTDIR\\$f\""; done
        for f in "${help_pictures[@]}"; do echo "Delete \"\$INSTDIR\\vorlux-help\\$f.png\""; done
        echo 'RMDir "$INSTDIR\vorlux-help"'
        echo '!endif'
    } >"$stage/files.nsh"
}

portable() {  # stage out.zip
    local stage=$1 portable=$1/portable
    rm -rf "$portable" && cp -r "$stage/files" "$portable" || die "cannot copy the files to $portable"
    : >"$portable/vorlux-settings.ini"
    cat >"$portable/README.txt" <<TEXT
Vorlux $version, portable

Unpack this folder anywhere (a USB stick will do) and start vorlux.exe. Nothing is installed:
every setting lives in vorlux-settings.ini beside the program, and movies go into this folder
until you choose another on the Movie Destination page. Delete vorlux-settings.ini and the
program keeps its settings in the registry instead, as an installed copy does.

Start and stop a recording with Ctrl+Shift+F5 and Ctrl+Shift+F6; pause with Ctrl+Shift+F7 and
take a single frame with Ctrl+Shift+F8. F1 opens the help (vorlux-help.html).
TEXT
    sed -i 's/$/\r/' "$portable/README.txt"
    python3 "$root/scripts/make-zip.py" "$portable" "vorlux-$short" "$2" || die "zipping $2 failed"
}

installer() {  # target stage out.exe
    command -v makensis >/dev/null || die "makensis is not installed (scripts/setup.sh installs nsis)"
    makensis -V2 -DVERSION="$version" -DSHORT_VERSION="$short" -DTARGET="$1" -DSTAGE="$2" -DOUTFILE="$3" \
        "$root/installer/vorlux.nsi" >"$2/makensis.log" 2>&1 \
        || { tail -20 "$2/makensis.log" >&2; die "makensis failed (see $2/makensis.log)"; }
}

package() {  # target bin out-dir
    local target=$1 name=vorlux-$short-$1 stage=$3/stage-$1
    stage "$target" "$2" "$stage"
    portable "$stage" "$3/$name-portable.zip"
    installer "$target" "$stage" "$3/$name-setup.exe"
    rm -rf "$stage"
    echo "package.sh: $3/$name-setup.exe, $3/$name-portable.zip"
}

if [ "${1:-}" = --from ]; then
    [ $# -eq 4 ] || die "usage: package.sh --from BIN_DIR TARGET OUT_DIR"
    mkdir -p "$4" || die "cannot make $4"
    package "$3" "$(cd "$2" && pwd)" "$(cd "$4" && pwd)"
    exit 0
fi

case "${1:-all}" in
    all) targets=(i686 x86_64) ;;
    i686|x86_64) targets=("$1") ;;
    *) die "usage: package.sh [i686|x86_64|all]" ;;
esac
"$root/scripts/setup.sh" || die "installing the packages failed"
dist=$root/dist
mkdir -p "$dist" || die "cannot make $dist"
for target in "${targets[@]}"; do
    echo "package.sh: building the $target release"
    package "$target" "$(release_build "$target")" "$dist"
done
(cd "$dist" && rm -f SHA256SUMS && sha256sum vorlux-$short-*-setup.exe vorlux-$short-*-portable.zip >SHA256SUMS) \
    || die "writing $dist/SHA256SUMS failed"
cat "$dist/SHA256SUMS"
