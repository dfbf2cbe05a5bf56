#!/usr/bin/env bash
# make demo-bridge: nats-server with JetStream in a temporary directory on a
# free loopback port, the front simulator, xelmd-bridge between them and the
# NATS consumer example following one instrument for a few seconds; then
# everything stops and the directory is removed.
set -u
build=${1:-build} seconds=${2:-8}
work=$(mktemp -d)
pids=()
cleanup() {
    # Stop in reverse order of start: the bridge drains before NATS goes.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

nats_server=$(command -v nats-server || echo /usr/sbin/nats-server)
[ -x "$nats_server" ] || { echo "demo-bridge: nats-server is not installed (make bootstrap)" >&2; exit 1; }
for p in xelmd-front xelmd-bridge nats_consumer; do
    [ -x "$build/bin/$p" ] || { echo "demo-bridge: $build/bin/$p was not built (needs libnats-dev)" >&2; exit 1; }
done

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
nats_port=$(free_port)
"$nats_server" -a 127.0.0.1 -p "$nats_port" -js -sd "$work/nats" >"$work/nats.log" 2>&1 &
pids+=($!)
"$build/bin/xelmd-front" --listen 127.0.0.1:0 --port-file "$work/ports" --rate 20 --quiet >/dev/null &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/ports" ] && grep -q "Server is ready" "$work/nats.log" && break
    sleep 0.1
done
port=$(head -n1 "$work/ports" 2>/dev/null)
[ -n "$port" ] || { echo "demo-bridge: no port from the simulator" >&2; exit 1; }
echo "demo-bridge: nats-server on nats://127.0.0.1:$nats_port, simulator on tcp://127.0.0.1:$port"
"$build/bin/xelmd-bridge" --front "tcp://127.0.0.1:$port" --nats "nats://127.0.0.1:$nats_port" \
    --topic 100:beginning --quiet &
pids+=($!)
echo "demo-bridge: following XS2509 through NATS for $seconds seconds"
"$build/bin/nats_consumer" --nats "nats://127.0.0.1:$nats_port" --instrument XS2509 \
    --from start --seconds "$seconds"
status=$?
echo "demo-bridge: consumer finished with status $status"
exit $status
