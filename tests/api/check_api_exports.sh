#!/bin/sh
# Every function of the API table is exported: the C++ ones in namespace Neuropixels under
# their C++ names, the np_ ones under their plain C names.
set -eu
library=$1
table=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
nm -D --defined-only "$library" | awk '$2 == "T" { print $3 }' > "$work/exports"
c++filt < "$work/exports" | sed -n 's/^Neuropixels::\([A-Za-z0-9_]*\)(.*/\1/p' | sort -u > "$work/cpp_exported"
grep -v '^Neuropixels::' "$work/exports" | sort -u > "$work/c_exported"
awk -F'|' '
    /^\[C\+\+\]/ { section = "cpp"; next }
    /^\[C\]/ { section = "c"; next }
    /^#/ || NF < 4 { next }
    { gsub(/ /, "", $2); print $2 > (section == "cpp" ? "'"$work"'/cpp_expected" : "'"$work"'/c_expected") }
' "$table"
sort -u -o "$work/cpp_expected" "$work/cpp_expected"
sort -u -o "$work/c_expected" "$work/c_expected"
missing_cpp=$(comm -23 "$work/cpp_expected" "$work/cpp_exported")
missing_c=$(comm -23 "$work/c_expected" "$work/c_exported")
status=0
for name in $missing_cpp; do echo "not exported: Neuropixels::$name"; status=1; done
for name in $missing_c; do echo "not exported: $name"; status=1; done
[ $status -eq 0 ] && echo "all $(cat "$work/cpp_expected" "$work/c_expected" | wc -l) functions of the table are exported"
exit $status
