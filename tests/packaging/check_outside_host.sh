#!/bin/sh
# Installs the build into a scratch prefix and builds a host from outside the source tree
# against it twice, through the CMake package and through pkg-config, and runs both. The
# tools of the installation run from it too. Compiler flags of the build (the sanitizers) are
# passed on, so that the host and the installed library agree.
set -eu
build_dir=$1
host_source=$2
flags=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for file in include/NeuropixAPI.h bin/np3-acquire share/np3_bridge/plot-run; do
    test -e "$prefix/$file" || { echo "not installed: $file"; exit 1; }
done

echo "== CMake package"
cmake -S "$host_source" -B "$scratch/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
(cd "$scratch" && ./cmake-build/outside_host)

echo "== pkg-config"
pc=$(find "$prefix" -name np3_bridge.pc)
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir np3_bridge)
# shellcheck disable=SC2046,SC2086
c++ $flags -std=c++17 "$host_source/outside_host.cpp" -o "$scratch/pkg_host" \
    $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs np3_bridge)
(cd "$scratch" && LD_LIBRARY_PATH="$libdir" ./pkg_host)

echo "== installed np3-acquire"
(cd "$scratch" && "$prefix/bin/np3-acquire" --help >/dev/null)
