#!/usr/bin/env bash
# consumer.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$source" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$prefix/consumer" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer/consumer" | grep -q "Quillmark Library 1.6.74"

libdir=$(ls -d "$prefix"/lib*/pkgconfig | head -n 1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs quillmark)
# shellcheck disable=SC2086
g++ -std=c++20 "$source/main.cpp" -o "$prefix/pc-consumer" $flags
LD_LIBRARY_PATH="$(dirname "$libdir")" "$prefix/pc-consumer" | grep -q "Quillmark Library 1.6.74"
echo "find_package and pkg-config consumers built and ran"
