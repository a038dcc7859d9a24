#!/bin/sh
# Installs the build into a scratch prefix and checks that the installed library finds its
# default ADC calibration table there, not in the build tree.
set -eu
build_dir=$1
lookup=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
file=22175715561_ADCCalibration.csv
test -f "$prefix/share/np3_bridge/$file" || { echo "not installed: share/np3_bridge/$file"; exit 1; }
library_dir=$(dirname "$(find "$prefix" -name 'libnp3_bridge.so' | head -1)")
found=$(LD_LIBRARY_PATH="$library_dir" "$lookup" "$file")
case "$found" in
    "$prefix"/*) echo "found $found" ;;
    *) echo "the installed library looked up $found instead of its own copy under $prefix"; exit 1 ;;
esac
