#!/usr/bin/env bash
# The portable zip in a clean Wine prefix: unpacked with its empty vorlux-settings.ini, the
# program starts, records beside itself with the hot keys, keeps every setting in that file,
# says so on its About page, and writes no key of its own into the registry.
#   portable.sh PORTABLE.zip e2e_helper.exe
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
VORLUX_SCRIPT=portable.sh
fail() { vorlux_fail "$@"; }
# The About page: a click on its tab, the last, with the panel away from Wine's tray window.
about_page() {
    xdotool windowmove "$panel" 300 200
    sleep 1
    xdotool mousemove --window "$panel" 317 17 click 1
    sleep 2
}
zip=$1 helper=$2
# The set-up wants a program to copy; the helper stands in, the program comes from the zip.
vorlux_program_setup x86_64 "$helper"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$VORLUX_WORK/stick" \
    || die "cannot unpack $zip"
dir=$(dirname "$(find "$VORLUX_WORK/stick" -name vorlux.exe | head -1)")
ini=$dir/vorlux-settings.ini
[ -f "$ini" ] && [ ! -s "$ini" ] || fail "the zip has no empty vorlux-settings.ini"

# The registry as the Wine server saves it when it ends.
our_keys() { vorlux_stop_prefix; cat "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" | grep -ci 'quorvane' || true; }
[ "$(our_keys)" = 0 ] || fail "the clean prefix already has Vorlux keys"
"$VORLUX_WINESERVER" -p </dev/null >/dev/null 2>&1 || die "cannot start the Wine server again"

"$VORLUX_RUN" "$dir/vorlux.exe" </dev/null >"$VORLUX_WORK/vorlux.out" 2>&1 &
VORLUX_PIDS+=($!)
panel=$(vorlux_wait_window '^Vorlux 3\.0$' 120) || fail "the portable program showed no panel"
vorlux_key "$panel" ctrl+shift+F5
sleep 2
vorlux_key "$panel" ctrl+shift+F6
vorlux_wait_file "$dir/VluxTake000.avi" 30 || fail "no movie beside the program"
about_page
info=$("$VORLUX_RUN" "$helper" control 'Vorlux 3.0' 130 | tr -d '\r' || true)
echo "About: $info"
grep -q 'Settings: .*\\vorlux-settings\.ini$' <<<"$info" || fail "the About page says '$info'"
grep -q '^LastMovieRecorded=".*VluxTake000\.avi"' "$ini" || fail "the last movie is not in the file"
grep -qx 'FramesPerSecond=dword:0000000a' <(tr -d '\r' <"$ini") || fail "the defaults are not in the file"
kill "${VORLUX_PIDS[@]}" 2>/dev/null || true
[ "$(our_keys)" = 0 ] || fail "the portable program wrote into the registry"
echo "PASS"
