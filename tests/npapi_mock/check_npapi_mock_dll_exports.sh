#!/bin/sh
# The Windows build of the mock: its DLL exports exactly the flat names of the older API and
# imports from nothing but the system's own DLLs (the C++ runtime is linked in).
set -eu
objdump=$1
library=$2
expected=$3
status=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$objdump" -p "$library" >"$scratch/headers"
LC_ALL=C sort -u "$expected" >"$scratch/expected"
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$scratch/headers" |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | LC_ALL=C sort -u >"$scratch/exported"
if ! cmp -s "$scratch/expected" "$scratch/exported"; then
    echo "missing exports:"
    LC_ALL=C comm -23 "$scratch/expected" "$scratch/exported"
    echo "unexpected exports:"
    LC_ALL=C comm -13 "$scratch/expected" "$scratch/exported"
    status=1
fi

for name in $(sed -n 's/^[[:space:]]*DLL Name: //p' "$scratch/headers"); do
    case $name in
    KERNEL32.dll | msvcrt.dll | api-ms-win-*.dll) ;;
    *)
        echo "unexpected dependency: $name"
        status=1
        ;;
    esac
done
[ $status -eq 0 ] && echo "$(wc -l <"$scratch/expected") exports, system DLLs only"
exit $status
