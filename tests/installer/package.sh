#!/usr/bin/env bash
# Packages a build tree twice: both runs give a setup program and a portable zip holding what a
# user needs, and the two zips are the same bytes.
#   package.sh BIN_DIR OUT_DIR NAME      (NAME: vorlux-MAJOR.MINOR-TARGET)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/lib.sh"
VORLUX_SCRIPT=installer/package.sh
bin=$1 out=$2 name=$3
rm -rf "$out"
"$root/scripts/package.sh" --from "$bin" x86_64 "$out/a"
sleep 1  # a zip that took the files' times would now differ
"$root/scripts/package.sh" --from "$bin" x86_64 "$out/b"
for f in "$name-setup.exe" "$name-portable.zip"; do
    [ -s "$out/a/$f" ] || die "FAIL: no $f"
done
cmp "$out/a/$name-portable.zip" "$out/b/$name-portable.zip" || die "FAIL: two runs gave different zips"
listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    "$out/a/$name-portable.zip")
top=${name%-x86_64}
for f in vorlux.exe vored102.exe vorlux-help.html vorlux-help/panel-movie.png README.txt vorlux-settings.ini; do
    grep -qx "$top/$f" <<<"$listing" || die "FAIL: the zip has no $top/$f"
done
echo "PASS"
