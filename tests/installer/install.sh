#!/usr/bin/env bash
# The setup program in a clean Wine prefix: a silent install for all users puts the program
# under Program Files with a Start menu link and an Apps & features entry; the installed
# program records into the Videos folder with the hot keys and shows its version; the silent
# uninstaller stops it, leaves no installed file or link behind and keeps the settings; a
# per-user install goes under %LOCALAPPDATA%\Programs. (Wine runs every program as an
# administrator, so the per-user choice is made with /CURRENTUSER, as a standard user's run
# would make it itself.)
#   install.sh SETUP.exe e2e_helper.exe
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=install.sh
fail() { vorlux_fail "$@"; }
# The About page: a click on its tab, the last, with the panel away from Wine's tray window.
about_page() {
    xdotool windowmove "$panel" 300 200
    sleep 1
    xdotool mousemove --window "$panel" 317 17 click 1
    sleep 2
}
setup=$1 helper=$2
# The set-up wants a program to copy; the helper stands in, the program comes from setup.exe.
vorlux_program_setup x86_64 "$helper"
cp "$setup" "$VORLUX_WORK/setup.exe" || die "cannot copy $setup"
c=$WINEPREFIX/drive_c
installed="$c/Program Files/Vorlux"
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vorlux.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlux'
reg_data() {  # key value
    "$VORLUX_RUN" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
        | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

timeout 300 "$VORLUX_RUN" "$VORLUX_WORK/setup.exe" /S </dev/null >/dev/null 2>&1 || fail "setup.exe /S failed"
for f in vorlux.exe vored102.exe vorlux-help.html vorlux-help/panel-movie.png uninstall.exe; do
    [ -f "$installed/$f" ] || fail "no $f installed"
done
[ -f "$menu" ] || fail "no Start menu link"
[ "$(reg_data "$uninstall_key" DisplayVersion)" = 3.0.2 ] || fail "Apps & features has no version 3.0.2"
[ "$(reg_data "$uninstall_key" Publisher)" = Quorvane ] || fail "Apps & features has no publisher"
[ -n "$(reg_data "$uninstall_key" EstimatedSize)" ] || fail "Apps & features has no size"

"$VORLUX_RUN" "$installed/vorlux.exe" </dev/null >"$VORLUX_WORK/vorlux.out" 2>&1 &
VORLUX_PIDS+=($!)
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 120) || fail "the installed program showed no panel"
[ "$(vorlux_reg_value Path Directory)" = '%v' ] || fail "a new store's directory is not %v"
vorlux_key "$panel" ctrl+shift+F5
sleep 2
vorlux_key "$panel" ctrl+shift+F6
movie=$(find "$c/users" -path '*/Videos/VluxTake000.avi' 2>/dev/null | head -1)
for _ in $(seq 30); do
    [ -n "$movie" ] && [ -s "$movie" ] && break
    sleep 1
    movie=$(find -L "$c/users" -path '*/Videos/VluxTake000.avi' 2>/dev/null | head -1)
done
[ -n "$movie" ] || fail "no movie in the Videos folder"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$movie")
[ "${frames:-0}" -ge 5 ] || fail "the movie has ${frames:-no} frames"

# The About page: the sheet's last page, one step back from the first.
about_page
info=$("$VORLUX_RUN" "$helper" control 'Vorlux 3.0' 130 | tr -d '\r' || true)
echo "About: $info"
grep -q '^Version 3\.0\.2\. Settings: HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\Vorlux\\3\.02$' <<<"$info" \
    || fail "the About page says '$info'"

# The uninstaller copies itself away and ends at once; its copy stops the program and removes
# the folder.
"$VORLUX_RUN" "$installed/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
for _ in $(seq 60); do [ -d "$installed" ] || break; sleep 1; done
[ ! -d "$installed" ] || fail "left behind: $(cd "$installed" && find . -type f | tr '\n' ' ')"
vorlux_wait_gone '^Vorlux 3\.0$' 10 || fail "the program still runs"
[ ! -f "$menu" ] || fail "the Start menu link is left"
[ -z "$(reg_data "$uninstall_key" DisplayName)" ] || fail "the Apps & features entry is left"
[ "$(vorlux_reg_value Movie FramesPerSecond)" = 0xa ] || fail "the settings were not kept"

timeout 300 "$VORLUX_RUN" "$VORLUX_WORK/setup.exe" /S /CURRENTUSER </dev/null >/dev/null 2>&1 \
    || fail "setup.exe /S /CURRENTUSER failed"
user=$(find "$c/users" -path '*/AppData/Local/Programs/Vorlux/vorlux.exe' | head -1)
[ -n "$user" ] || fail "the per-user install is not under AppData\\Local\\Programs"
[ -n "$(find "$c/users" -path '*/Start Menu/Programs/Vorlux.lnk' | head -1)" ] || fail "no per-user Start menu link"
[ ! -d "$installed" ] || fail "the per-user install went under Program Files"
echo "PASS"
