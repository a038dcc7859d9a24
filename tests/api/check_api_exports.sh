#!/bin/sh
# Every function of the API table is exported: the C++ ones in namespace Neuropixels under
# their C++ names, the np_ ones under their plain C names.
set -eu
library=$1
table=$2
exports=$(nm -D --defined-only "$library" | awk '$2 == "T" { print $3 }')
demangled=$(printf '%s\n' "$exports" | c++filt)
missing=0
section=""
while IFS= read -r line; do
    case "$line" in
        "#"*|"") continue ;;
        "[C++]") section=cpp; continue ;;
        "[C]") section=c; continue ;;
    esac
    name=$(printf '%s' "$line" | awk -F'|' '{ gsub(/ /, "", $2); print $2 }')
    if [ "$section" = cpp ]; then
        printf '%s\n' "$demangled" | grep -q "^Neuropixels::$name(" || { echo "not exported: Neuropixels::$name"; missing=1; }
    else
        printf '%s\n' "$exports" | grep -qx "$name" || { echo "not exported: $name"; missing=1; }
    fi
done < "$table"
count=$(grep -c '|' "$table")
[ $missing -eq 0 ] && echo "all $count functions of the table are exported"
exit $missing
