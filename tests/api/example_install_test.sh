#!/usr/bin/env bash
# Installs into a scratch prefix outside the tree, builds the example against
# that copy with find_package and with pkg-config, and runs the installed
# xelmd-watch and both builds against the installed xelmd-front with an empty
# environment: everything must find the library by its runtime path alone.
set -u
build=$1 example=$2 cmake=$3
work=$(mktemp -d)
prefix="$work/prefix"
pid=
cleanup() {
    [ -n "$pid" ] && kill -INT "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
timeout=$(command -v timeout)
bare() { (cd "$work" && env -i "$timeout" 60 "$@" 2>&1); }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null || fail "install"
for program in xelmd-front xelmd-watch xelmd-record; do
    bare "$prefix/bin/$program" --help >/dev/null || fail "$program --help does not run"
done
ldd "$prefix/bin/xelmd-watch" | grep -q "libxelmdapi.so.2 => $prefix/bin/../lib/" ||
    fail "xelmd-watch does not load the installed library: $(ldd "$prefix/bin/xelmd-watch")"

"$cmake" -S "$example" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null ||
    fail "find_package configure"
"$cmake" --build "$work/build" >/dev/null || fail "find_package build"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/basic_client_pc" "$example/main.cc" \
    $(pkg-config --cflags --libs xelmdapi) -Wl,-rpath,"$(pkg-config --variable=libdir xelmdapi)" ||
    fail "pkg-config build"

echo '{"users": [{"user": "alice", "password": "s3cret"}]}' >"$work/users.json"
env -i "$prefix/bin/xelmd-front" --listen 127.0.0.1:0 --port-file "$work/ports" \
    --users "$work/users.json" --rate 200 >"$work/front.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.1; done
front="tcp://127.0.0.1:$(head -n1 "$work/ports")" || fail "no port"

out=$(bare "$prefix/bin/xelmd-watch" --front "$front" --user alice --password s3cret \
    --count 5 --seconds 30 --plain) || fail "xelmd-watch: $out"
grep -Eq '^XS[0-9]+ last [0-9.]+ bid' <<<"$out" || fail "xelmd-watch showed no row: $out"
for client in "$work/build/basic_client" "$work/basic_client_pc"; do
    out=$(bare "$client" "$front" alice s3cret 100 20 30) || fail "$client: $out"
    [ "$(grep -Ec '^XS[0-9]+ last [0-9.]+ bid [0-9.]+ x [0-9]+ ask' <<<"$out")" -ge 20 ] ||
        fail "$client did not print 20 updates: $out"
    out=$(bare "$client" "$front" alice wrong 100 1 30) && fail "$client accepted a wrong password"
    grep -q '^login: 3 ' <<<"$out" || fail "$client did not report the refusal: $out"
done
# The front names the cipher it chose for every connection.
grep -q 'key exchange: sm2, cipher type 4' "$work/front.log" ||
    fail "no cipher line: $(cat "$work/front.log")"
echo "installed programs and example: all cases passed"
