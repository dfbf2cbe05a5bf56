#!/usr/bin/env bash
# xelmd-watch against an xelmd-front process: a good login shows rows and
# stops after --count updates; a wrong password exits with status 1 and the
# front's error text; an unreachable front gives status 3 after --seconds.
set -u
front=$1 watch=$2
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -INT "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo '{"users": [{"user": "demo", "password": "demo"}]}' > "$work/users.json"
"$front" --listen 127.0.0.1:0 --port-file "$work/ports" --users "$work/users.json" \
    --rate 200 --quiet > "$work/front.log" &
pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.1; done
port=$(head -n1 "$work/ports") || fail "no port"
url="tcp://127.0.0.1:$port"

out=$(timeout 60 "$watch" --front "$url" --resume beginning --count 50 --flow-path "$work" --plain 2>&1)
status=$?
[ $status -eq 0 ] || fail "good login exited with $status: $out"
grep -Eq '^XS2509 last [0-9.]+ bid [0-9.]+ x [0-9]+ ask [0-9.]+ x [0-9]+' <<<"$out" || fail "no row: $out"
grep -q 'status: logged in' <<<"$out" || fail "no status line: $out"

out=$(timeout 60 "$watch" --front "$url" --password wrong --seconds 20 --flow-path "$work" --plain 2>&1)
status=$?
[ $status -eq 1 ] || fail "wrong password exited with $status: $out"
grep -q 'xelmd-watch: login failed: 3 wrong password' <<<"$out" || fail "no error text: $out"

out=$(timeout 60 "$watch" --front tcp://127.0.0.1:1 --seconds 2 --flow-path "$work" --plain 2>&1)
status=$?
[ $status -eq 3 ] || fail "unreachable front exited with $status: $out"
grep -q 'no market data within 2 s' <<<"$out" || fail "no message: $out"
echo "xelmd-watch: all cases passed"
