#!/usr/bin/env bash
# Checks that released programs import only what Windows 7 SP1 has: every DLL and function in
# their import tables must be listed in scripts/win7-imports.txt ("dll function", lower-case DLL
# names). A program that imports anything newer would not start there at all, with the
# system's missing-DLL or missing-entry-point error.
#   scripts/check-imports.sh PROGRAM.exe...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
VORLUX_SCRIPT=check-imports.sh
allowed=$root/scripts/win7-imports.txt
[ $# -gt 0 ] || die "usage: check-imports.sh PROGRAM.exe..."
[ -f "$allowed" ] || die "no list at $allowed"
objdump=x86_64-w64-mingw32-objdump  # reads 32- and 64-bit programs alike
command -v "$objdump" >/dev/null || die "$objdump is not installed (scripts/setup.sh installs it)"

# "dll function" for every import; an import by ordinal shows as "dll #N".
imports() {
    "$objdump" -p "$1" | awk '
        /^\tDLL Name: / { dll = tolower($3); next }
        dll != "" && /^$/ { dll = ""; next }
        dll != "" && /^\t[0-9a-f]+\t/ {
            if ($3 == "") print dll " #" $2; else print dll " " $3 }'
}

bad=0
for program in "$@"; do
    [ -f "$program" ] || die "no program at $program"
    found=$(imports "$program" | sort -u)
    [ -n "$found" ] || die "no imports read from $program"
    missing=$(comm -23 <(echo "$found") <(grep -v '^#' "$allowed" | sed '/^$/d' | sort -u))
    if [ -n "$missing" ]; then
        echo "$(basename "$program") imports what Windows 7 SP1 lacks or the list does not name:" >&2
        sed 's/^/  /' <<<"$missing" >&2
        bad=1
    else
        echo "$(basename "$program"): $(wc -l <<<"$found") imports, all on Windows 7 SP1"
    fi
done
exit $bad
