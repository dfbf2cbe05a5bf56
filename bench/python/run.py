#!/usr/bin/env python3
"""Updates per second delivered to Python, beside the C++ receiver on the
same blaster stream in the same run: NumPy batches, per-update iteration and
a subclassed callback; then the median latency the Python path adds at a
paced rate.

usage: run.py [--build DIR] [--seconds S] [--rate N]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
QUIET = 0.5  # seconds without an update that end a run


def wait_port(path, proc):
    end = time.time() + 20
    while time.time() < end:
        if os.path.exists(path) and open(path).read().strip():
            return int(open(path).read().strip())
        if proc.poll() is not None:
            break
        time.sleep(0.02)
    sys.exit("bench: the blaster did not start")


def blaster(build, work, seconds, extra):
    port_file = os.path.join(work, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    key = os.path.join(SOURCE, "tools", "keys", "terminal_rsa_private.pem")
    proc = subprocess.Popen([os.path.join(build, "bench", "e2e", "xelmd-e2e-blaster"),
                             "--seconds", str(seconds), "--terminal-key", key, "--kind",
                             "increment", "--cipher", "0", "--port-file", port_file] + extra,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return proc, wait_port(port_file, proc)


def sent_count(proc):
    out = proc.communicate(timeout=120)[0]
    for line in reversed(out.strip().splitlines()):
        if line.startswith("{"):
            return json.loads(line).get("sent")
    return None


def cpp_receiver(build, work, port, latency=False):
    args = [os.path.join(build, "bench", "e2e", "xelmd-e2e-receiver"), "--port", str(port),
            "--flow-path", work] + (["--latency"] if latency else [])
    out = subprocess.run(args, capture_output=True, text=True, timeout=120).stdout
    return json.loads([l for l in out.splitlines() if l.startswith("{")][-1])


class Clock:
    """Counts updates; the rate runs from the first to the last."""

    def __init__(self):
        self.count, self.first, self.last = 0, None, None
        self.note = ""

    def add(self, n):
        if n:
            now = time.perf_counter()
            if self.first is None:
                self.first = now
            self.last, self.count = now, self.count + n

    def rate(self):
        span = (self.last or 0) - (self.first or 0)
        return self.count / span if span > 0 else 0.0


def consume(xelmd, address, take):
    """Runs take(feed) -> rows until a quiet spell. A stream faster than the
    consumer fills the queue and stops the feed: the rate is then the
    consumer's own, up to that point, and the row says so."""
    clock = Clock()
    with xelmd.Feed(fronts=[address], topics=[(100, "now")], capacity=1 << 18) as feed:
        try:
            while True:
                n = take(feed)
                if n == 0 and clock.count:
                    return clock
                clock.add(n)
        except xelmd.FeedOverflow:
            clock.note = "  (consumer-bound: the queue filled)"
            return clock


def py_batches(xelmd, address):
    return consume(xelmd, address, lambda feed: len(feed.read_batch(65536, QUIET)))


def py_iteration(xelmd, address):
    return consume(xelmd, address, lambda feed: feed.next(QUIET) is not None)


def py_callback(xelmd, address):
    clock = Clock()

    class Counter(xelmd.Spi):
        def on_front_connected(self):
            api.req_user_login({"UserID": "bench", "UserProductInfo": "bench"}, 1)

        def on_rtn_depth_market_data(self, record):
            clock.add(1)

    api = xelmd.Api()
    api.register_spi(Counter())
    api.register_front(address)
    api.subscribe_market_data_topic(100, xelmd.RESUME_FROM_NOW)
    api.init()
    while clock.last is None or time.perf_counter() - clock.last < QUIET:
        time.sleep(0.05)
    api.close()
    return clock


def py_latency(xelmd, address):
    """Median microseconds from the blaster's send stamp (in the two volume
    members, as the C++ receiver reads it) to the row's arrival in Python
    through read_batch, after the first tenth of the samples."""
    delays = []
    with xelmd.Feed(fronts=[address], topics=[(100, "now")]) as feed:
        while True:
            batch = feed.read_batch(65536, QUIET)
            now = time.monotonic_ns()
            if len(batch) == 0 and delays:
                break
            sent = (batch["BidVolume1"].astype("uint32").astype("uint64") << 32) \
                | batch["AskVolume1"].astype("uint32").astype("uint64")
            delays.extend((now - sent.astype("int64")) / 1000.0)
    kept = sorted(delays[len(delays) // 10:])
    return kept[len(kept) // 2] if kept else 0.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--seconds", type=float, default=3.0)
    ap.add_argument("--rate", type=float, default=10000, help="paced rate of the latency run")
    a = ap.parse_args()
    a.build = os.path.abspath(a.build)
    sys.path.insert(0, os.path.join(a.build, "python"))
    import xelmd

    work = tempfile.mkdtemp(prefix="xelmd_pybench_")
    os.chdir(work)
    rows = []
    for label, run in (("NumPy batches", py_batches), ("iteration", py_iteration),
                       ("subclassed callback", py_callback)):
        proc, port = blaster(a.build, work, a.seconds, [])
        base = cpp_receiver(a.build, work, port)
        sent_count(proc)
        proc, port = blaster(a.build, work, a.seconds, [])
        clock = run(xelmd, "tcp://127.0.0.1:%d" % port)
        sent = sent_count(proc)
        rows.append((label, clock.rate(), base["rate"], clock.count, sent, clock.note))
    print("%-22s %14s %14s %7s %12s" % ("Python path", "updates/s", "C++ receiver", "ratio",
                                         "received"))
    for label, rate, base, got, sent, note in rows:
        print("%-22s %14.0f %14.0f %7.2f %12s%s" % (label, rate, base, rate / base if base else 0,
                                                    "%s/%s" % (got, sent), note))
    print("(same blaster stream: increments, no cipher; one run each, %.0f s)" % a.seconds)

    paced = ["--rate", str(a.rate)]
    proc, port = blaster(a.build, work, a.seconds, paced)
    base = cpp_receiver(a.build, work, port, latency=True)
    sent_count(proc)
    proc, port = blaster(a.build, work, a.seconds, paced)
    median = py_latency(xelmd, "tcp://127.0.0.1:%d" % port)
    sent_count(proc)
    cpp = base.get("p50_us", 0.0)
    print("\nmedian latency at %.0f updates/s: C++ receiver %.1f us, Python batches %.1f us, "
          "added %.1f us" % (a.rate, cpp, median, median - cpp))


if __name__ == "__main__":
    main()
