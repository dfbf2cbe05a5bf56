#!/usr/bin/env bash
# make demo: the front simulator on a free loopback port and the live
# watcher against it for a few seconds; both stop cleanly.
set -u
build=${1:-build} seconds=${2:-8}
work=$(mktemp -d)
front_pid=
cleanup() {
    if [ -n "$front_pid" ] && kill -0 "$front_pid" 2>/dev/null; then
        kill -INT "$front_pid"
        wait "$front_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$build/bin/xelmd-front" --listen 127.0.0.1:0 --port-file "$work/ports" --rate 20 --quiet &
front_pid=$!
for _ in $(seq 100); do
    [ -s "$work/ports" ] && break
    kill -0 "$front_pid" 2>/dev/null || { echo "demo: the simulator did not start" >&2; exit 1; }
    sleep 0.1
done
port=$(head -n1 "$work/ports" 2>/dev/null)
[ -n "$port" ] || { echo "demo: no port from the simulator" >&2; exit 1; }
echo "demo: simulator on tcp://127.0.0.1:$port; watching for $seconds seconds"
"$build/bin/xelmd-watch" --front "tcp://127.0.0.1:$port" --topic 100 --resume beginning \
    --flow-path "$work" --seconds "$seconds"
status=$?
echo "demo: watcher finished with status $status"
exit $status
