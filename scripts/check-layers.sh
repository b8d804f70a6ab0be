#!/usr/bin/env bash
# Fails on an #include that crosses the allowed direction between folders (cmake/layers.txt).
#   scripts/check-layers.sh [ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
table=$root/cmake/layers.txt
[ -f "$table" ] || { echo "check-layers: no $table" >&2; exit 2; }

declare -A allowed
folders=()
while IFS= read -r line; do
    line=${line%%#*}
    [[ $line =~ ^[[:space:]]*$ ]] && continue
    folder=${line%%:*}
    folder=${folder//[[:space:]]/}
    allowed[$folder]=" ${line#*:} "
    folders+=("$folder")
done <"$table"

# The table folder a path belongs to: the longest folder that is a prefix of it.
owner() {
    local path=$1 best="" f
    for f in "${folders[@]}"; do
        if [[ $path == "$f"/* ]] && [ ${#f} -gt ${#best} ]; then best=$f; fi
    done
    echo "$best"
}

bad=0
cd "$root"
while IFS= read -r file; do
    from=$(owner "$file")
    [ -n "$from" ] || continue
    while IFS= read -r inc; do
        to=$(owner "$inc")
        if [ -z "$to" ]; then
            echo "$file: includes \"$inc\", which is in no folder of cmake/layers.txt"
            bad=1
        elif [ "$to" != "$from" ] && [[ ${allowed[$from]} != *" $to "* ]]; then
            echo "$file: $from may not include \"$inc\" ($to)"
            bad=1
        fi
    done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+\/[^"]+)".*/\1/p' "$file")
done < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' '*.rc')
[ "$bad" -eq 0 ] && echo "check-layers: every include follows cmake/layers.txt"
exit $bad
