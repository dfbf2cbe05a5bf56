#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds the example
# application against that installed copy twice: with find_package and with
# pkg-config. Both builds must run.
set -eu
build=$1 example=$2 cmake=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

check() {
    local out
    out=$("$@" tcp://127.0.0.1:1 tcp://127.0.0.1:2)
    echo "$out"
    grep -q 'version: TARN XelMdApi V2.00 202508.1835 (202508, 1835)' <<<"$out"
    grep -q 'RegisterFront(tcp://127.0.0.1:1) = 0' <<<"$out"
}

# find_package
"$cmake" -S "$example" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$work/build" >/dev/null
check "$work/build/basic_client"

# pkg-config: the file must name this prefix, whatever was configured.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
test "$(pkg-config --variable=prefix xelmdapi)" = "$prefix"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/basic_client_pc" "$example/main.cc" \
    $(pkg-config --cflags --libs xelmdapi) -Wl,-rpath,"$(pkg-config --variable=libdir xelmdapi)"
check "$work/basic_client_pc"
