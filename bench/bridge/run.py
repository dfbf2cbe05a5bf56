#!/usr/bin/env python3
"""xelmd-bridge's benchmark, each figure beside a baseline from the same run:

* updates per second published and acknowledged by the bridge (JSON and
  binary payloads, one nats-server with file storage), read from how fast
  its commit point advances through a backlog of the front simulator, beside
  a plain libnats JetStream asynchronous publisher sending the same payloads
  (taken from the bridge's stream) with the same limits to the same server,
  the two alternating (--pairs, default 3) and the median ratio reported;
* median latency at 10,000 updates/s from the sender's stamp to a JetStream
  consumer's receipt through the bridge and NATS, beside the same stream
  received straight through the library (bench/e2e's receiver).
"""
import argparse
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "bridge"))
import harness  # noqa: E402
from harness import BIN, Client, Front, NatsServer, Process, wait_for  # noqa: E402

KEY = os.path.join(SOURCE, "tools", "keys", "terminal_rsa_private.pem")


def commit_of(port, stream, prefix):
    try:
        with Client(port) as c:
            m = c.last_by_subject(stream, prefix + ".commit.100")
        return int(m["headers"]["Xelmd-Seq"]) if m else 0
    except (OSError, TypeError, KeyError):
        return 0


def metrics_of(port):
    try:
        text = urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5).read()
    except OSError:
        return {}  # not listening yet
    values = {}
    for line in text.decode().splitlines():
        if line.startswith("xelmd_bridge_") and "{" not in line:
            name, value = line.split()
            values[name[len("xelmd_bridge_"):]] = float(value)
    return values


def bridge_throughput(work, nats, fmt, seconds, rate, backlog, run=0):
    """(updates/s acknowledged over `seconds`, payload file). The bridge first
    takes in a backlog of the simulator, which is then paused (SIGSTOP) so
    that only the bridge and the server share the machine while it is timed."""
    # A stream per run: a new simulator numbers its packets from 1 again.
    stream, prefix = "T%s%d" % (fmt.upper(), run), "tp%d.%s" % (run, fmt)
    port = harness.free_port()
    front = Front(work, "--rate", str(rate), "--instruments", "8", "--quiet")
    time.sleep(backlog)
    b = harness.bridge(work, front, [nats.url], "--format", fmt, "--stream", stream,
                       "--prefix", prefix, "--quiet", "--metrics", "127.0.0.1:%d" % port,
                       "--buffer", "1000000",
                       name="bridge-%s%d" % (fmt, run))
    try:
        need = 300000
        wait_for(lambda: metrics_of(port).get("buffered", 0) >= need, 60,
                 "%d updates buffered in the bridge" % need)
        front.proc.send_signal(signal.SIGSTOP)
        start = metrics_of(port)
        a0, t0 = start["updates_acknowledged_total"], time.monotonic()
        # Timed while the backlog lasts: the window ends early rather than
        # count time in which the bridge had nothing to publish.
        a1, t1 = a0, t0
        while t1 - t0 < seconds:
            time.sleep(0.2)
            m, now = metrics_of(port), time.monotonic()
            if m.get("buffered", 0) < need // 10:
                break
            a1, t1 = m["updates_acknowledged_total"], now
        if t1 == t0:
            raise SystemExit("bench-bridge: no backlog left to time; raise --front-rate")
        if t1 - t0 < seconds / 2:
            print("bench-bridge: the backlog lasted only %.1f s of the %.1f s window"
                  % (t1 - t0, seconds))
        front.proc.send_signal(signal.SIGCONT)
        if b.stop() != 0:
            raise SystemExit("the bridge did not drain:\n" + b.output())
    finally:
        front.proc.send_signal(signal.SIGCONT)
        b.kill()
        front.stop(seconds=10)
    payloads = os.path.join(work, fmt + ".payloads")
    with Client(nats.port) as c, open(payloads, "wb") as out:
        first = c.stream_info(stream)["state"]["first_seq"]
        c.publish_requests([("$JS.API.STREAM.MSG.GET." + stream,
                             json.dumps({"seq": first + i}).encode()) for i in range(2000)])
        for _ in range(2000):
            m = harness.parse_stored(json.loads(c.next_msg()[2]))
            if m and not m["subject"].startswith(prefix + ".commit"):
                out.write(struct.pack("<I", len(m["data"])) + m["data"])
    return (a1 - a0) / (t1 - t0), payloads


def baseline_throughput(build, nats, fmt, payloads, count, run=0):
    # A stream per run: the same message ids again would be dropped as repeats.
    stream, subjects = "B%s%d" % (fmt.upper(), run), "b%d%s" % (run, fmt)
    with Client(nats.port) as c:
        c.request("$JS.API.STREAM.CREATE." + stream, json.dumps({
            "name": stream, "subjects": [subjects + ".>"], "storage": "file",
            "duplicate_window": 120 * 10**9}).encode())
    out = subprocess.run([os.path.join(build, "bench", "bridge", "xelmd-bench-js-publisher"),
                          nats.url, stream, subjects, payloads, str(count)],
                         capture_output=True, text=True, timeout=300)
    result = json.loads(out.stdout.strip().splitlines()[-1])
    if not result["ok"] or result["failed"]:
        raise SystemExit("baseline publisher failed: " + out.stdout + out.stderr)
    return result["rate"]


def blaster(build, work, rate, seconds):
    ports = os.path.join(work, "blaster.port")
    if os.path.exists(ports):
        os.remove(ports)  # an earlier run's
    p = Process([os.path.join(build, "bench", "e2e", "xelmd-e2e-blaster"), "--port-file", ports,
                 "--terminal-key", KEY, "--rate", str(rate), "--seconds", str(seconds)],
                work, "blaster")
    port = wait_for(lambda: os.path.exists(ports) and open(ports).read().split(), 10,
                    "the blaster's port")[0]
    return p, port


def latency_through_bridge(build, work, nats, rate, seconds):
    ready = os.path.join(work, "consumer.ready")
    # The stream as the bridge creates it, so that the consumer is there first.
    with Client(nats.port) as c:
        c.request("$JS.API.STREAM.CREATE.LAT", json.dumps({
            "name": "LAT", "subjects": ["lat.>"], "storage": "file",
            "duplicate_window": 120 * 10**9}).encode())
    consumer = subprocess.Popen([os.path.join(build, "bench", "bridge",
                                              "xelmd-bench-latency-consumer"),
                                 nats.url, "LAT", "lat.100.>", ready],
                                stdout=subprocess.PIPE, text=True)
    send, port = blaster(build, work, rate, seconds)
    b = Process([BIN["xelmd-bridge"], "--front", "tcp://127.0.0.1:" + port, "--nats", nats.url,
                 "--format", "binary", "--stream", "LAT", "--prefix", "lat", "--quiet",
                 "--state-dir", os.path.join(work, "lat-state")], work, "bridge-latency")
    try:
        out, _ = consumer.communicate(timeout=seconds + 120)
    finally:
        b.stop()
        send.kill()
    result = json.loads(out.strip().splitlines()[-1])
    result["sent"] = json.loads(open(send.log_path).read().strip().splitlines()[-1])["sent"]
    return result


def latency_plain_nats(build, work, nats, payloads, rate, seconds):
    """The latency consumer behind a paced libnats publisher instead of the bridge."""
    ready = os.path.join(work, "plain.ready")
    with Client(nats.port) as c:
        c.request("$JS.API.STREAM.CREATE.PLAT", json.dumps({
            "name": "PLAT", "subjects": ["plat.>"], "storage": "file",
            "duplicate_window": 120 * 10**9}).encode())
    consumer = subprocess.Popen([os.path.join(build, "bench", "bridge",
                                              "xelmd-bench-latency-consumer"),
                                 nats.url, "PLAT", "plat.100.>", ready],
                                stdout=subprocess.PIPE, text=True)
    wait_for(lambda: os.path.exists(ready), 30, "the latency consumer")
    subprocess.run([os.path.join(build, "bench", "bridge", "xelmd-bench-js-publisher"), nats.url,
                    "PLAT", "plat", payloads, str(int(rate * seconds)), str(rate)],
                   check=True, capture_output=True, timeout=seconds + 120)
    out, _ = consumer.communicate(timeout=120)
    return json.loads(out.strip().splitlines()[-1])


def latency_direct(build, work, rate, seconds):
    send, port = blaster(build, work, rate, seconds)
    try:
        out = subprocess.run([os.path.join(build, "bench", "e2e", "xelmd-e2e-receiver"),
                              "--port", port, "--latency", "--flow-path", work],
                             capture_output=True, text=True, timeout=seconds + 120)
    finally:
        send.kill()
    return json.loads(out.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--seconds", type=float, default=3, help="length of each timed window")
    ap.add_argument("--front-rate", type=int, default=50000,
                    help="packets per second of the simulator feeding the bridge")
    ap.add_argument("--latency-rate", type=int, default=10000)
    ap.add_argument("--pairs", type=int, default=3,
                    help="bridge and baseline throughput runs, alternating, per payload format")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    for name, path in [("xelmd-front", "bin/xelmd-front"), ("xelmd-bridge", "bin/xelmd-bridge")]:
        BIN[name] = os.path.join(build, path)
    if not os.path.exists(BIN["xelmd-bridge"]) or not shutil.which(BIN["nats-server"]) and \
            not os.path.exists("/usr/sbin/nats-server"):
        print("bench-bridge: xelmd-bridge or nats-server missing; skipped")
        return
    if not shutil.which(BIN["nats-server"]):
        BIN["nats-server"] = "/usr/sbin/nats-server"
    work = harness.workdir()
    nats = NatsServer(work)
    rows, payloads = [], {}
    try:
        # Bridge and baseline alternate: the machine's speed drifts between
        # runs by more than the difference measured, so the ratio of each
        # pair counts, and the table gives their median.
        for fmt in ("json", "binary"):
            pairs = []
            for run in range(max(1, args.pairs)):
                rate, payloads[fmt] = bridge_throughput(work, nats, fmt, args.seconds,
                                                        args.front_rate, backlog=5.0, run=run)
                base = baseline_throughput(build, nats, fmt, payloads[fmt],
                                           max(50000, int(rate * args.seconds)), run=run)
                pairs.append((rate / base, rate, base))
                print("bench-bridge: %s: bridge %.0f/s, plain publisher %.0f/s, ratio %.2f" % (
                    fmt, rate, base, rate / base), flush=True)
            ratio, rate, base = sorted(pairs)[len(pairs) // 2]
            rows.append(("updates/s published and acked, %s (median of %d pairs, ratios %.2f "
                         "to %.2f)" % (fmt, len(pairs), min(pairs)[0], max(pairs)[0]),
                         rate, base, ratio))
        lat = latency_through_bridge(build, work, nats, args.latency_rate, args.seconds + 2)
        direct = latency_direct(build, work, args.latency_rate, args.seconds + 2)
        rows.append(("median latency us at %d/s, sender to consumer" % args.latency_rate,
                     lat["p50_us"], direct["p50_us"], lat["p50_us"] / direct["p50_us"]))
        plain = latency_plain_nats(build, work, nats, payloads["binary"], args.latency_rate,
                                   args.seconds + 2)
        rows.append(("  of which bridge to consumer (median us)", lat["bridge_p50_us"],
                     plain["bridge_p50_us"], lat["bridge_p50_us"] / plain["bridge_p50_us"]))
        rows.append(("99th percentile latency us", lat["p99_us"], direct["p99_us"],
                     lat["p99_us"] / direct["p99_us"]))
    finally:
        nats.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("\nxelmd-bridge (one nats-server, file storage)")
    print("| measure | bridge | baseline | ratio |")
    print("|---|---:|---:|---:|")
    for name, a, b, r in rows:
        print("| %s | %.0f | %s | %s |" % (name, a, "%.0f" % b if b else "",
                                          "%.2f" % r if r else ""))
    print("baselines: a libnats JetStream async publisher with the same payloads, 4096 in "
          "flight (throughput); the library's receiver straight from the sender (latency); "
          "the same publisher paced, to the same consumer (bridge to consumer)")
    print("the latency run: %d updates sent at %d/s, %d received through the bridge" % (
        lat["sent"], args.latency_rate, lat["received"]))


if __name__ == "__main__":
    main()
