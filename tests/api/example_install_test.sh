#!/usr/bin/env bash
# Installs the library into a scratch prefix, builds the example application
# against that installed copy with find_package, and runs it.
set -eu
build=$1 example=$2 cmake=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
"$cmake" -S "$example" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
"$cmake" --build "$work/build" >/dev/null
out=$("$work/build/basic_client" tcp://127.0.0.1:1 tcp://127.0.0.1:2)
echo "$out"
grep -q 'version: TARN XelMdApi V2.00 202508.1835 (202508, 1835)' <<<"$out"
grep -q 'RegisterFront(tcp://127.0.0.1:1) = 0' <<<"$out"
# pkg-config sees the same installation.
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --exists xelmdapi
