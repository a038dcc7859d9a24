#!/bin/sh
# The mock exports exactly the flat names of the older API and nothing else; none of its own
# calls can be diverted to another module that defines the same name (the C library's close);
# and it depends on nothing but the C++ runtime (plus the sanitizer runtimes of a sanitizer
# build).
set -eu
library=$1
expected=$2
status=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

LC_ALL=C sort -u "$expected" >"$scratch/expected"
nm -D --defined-only "$library" >"$scratch/symbols"
awk '{ print $NF }' "$scratch/symbols" | LC_ALL=C sort -u >"$scratch/exported"
if ! cmp -s "$scratch/expected" "$scratch/exported"; then
    echo "missing exports:"
    LC_ALL=C comm -23 "$scratch/expected" "$scratch/exported"
    echo "unexpected exports:"
    LC_ALL=C comm -13 "$scratch/expected" "$scratch/exported"
    status=1
fi

# A dynamic relocation against one of the library's own names would let the process's global
# scope, which holds the C library's close first, decide where the call goes.
readelf --wide --relocs "$library" >"$scratch/relocations"
awk '$3 ~ /^R_/ && NF >= 5 { sub(/@.*/, "", $5); print $5 }' "$scratch/relocations" |
    LC_ALL=C sort -u >"$scratch/relocated"
bound_elsewhere=$(LC_ALL=C comm -12 "$scratch/expected" "$scratch/relocated")
if [ -n "$bound_elsewhere" ]; then
    echo "own names resolved at load time:"
    echo "$bound_elsewhere"
    status=1
fi

readelf --dynamic "$library" >"$scratch/dynamic"
needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$scratch/dynamic")
for name in $needed; do
    case $name in
    libstdc++.so.* | libm.so.* | libgcc_s.so.* | libc.so.* | ld-linux*.so.*) ;;
    libasan.so.* | libubsan.so.* | libtsan.so.*) ;;
    *)
        echo "unexpected dependency: $name"
        status=1
        ;;
    esac
done
exit $status
