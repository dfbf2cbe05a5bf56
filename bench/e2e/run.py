#!/usr/bin/env python3
"""End-to-end throughput and latency of the library, beside plain sockets.

Runs the blaster (the library's server side, the front simulator's dialogue)
against the receiving application (public interface only) for each
configuration, then the plain-socket baselines, prints the tables and writes
the latency plot (a PNG made with the standard library alone).

usage: run.py [--build DIR] [--seconds S] [--repeat N] [--pin PHASES]
              [--latency-cores unpinned,pinned] [--png FILE] [--json FILE]
              [--quick] [--smoke]
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

CIPHERS = [("none", 0, False), ("XOR", 1, False), ("AES-128", 3, False), ("SM4", 4, False),
           ("none + compression", 0, True)]
KINDS = ["snapshot", "increment"]
RATES = [10000, 100000]


SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PINNING = {"throughput": True, "latency": True}
PHASE = ["throughput"]


def pin(core):
    # Two cores or more: sender on 0, receiver on 1.
    if not PINNING[PHASE[0]] or not shutil.which("taskset") or os.cpu_count() < 2:
        return []
    return ["taskset", "-c", str(core)]


def wait_port(path, proc, limit=20.0):
    end = time.time() + limit
    while time.time() < end:
        if os.path.exists(path):
            with open(path) as f:
                text = f.read().strip()
            if text:
                return int(text)
        if proc.poll() is not None:
            break
        time.sleep(0.02)
    raise RuntimeError("no port from %s" % proc.args[0])


def last_json(text):
    for line in reversed(text.strip().splitlines()):
        if line.startswith("{"):
            return json.loads(line)
    return {}


def run_pair(server_cmd, client_cmd_of_port, work, timeout=120):
    """Starts the server (which writes its port), then the client; both outputs."""
    port_file = os.path.join(work, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    server = subprocess.Popen(server_cmd + ["--port-file", port_file], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    try:
        port = wait_port(port_file, server)
        client = subprocess.run(client_cmd_of_port(port), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, timeout=timeout)
        out, err = server.communicate(timeout=timeout)
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()
    if client.returncode != 0 or server.returncode != 0:
        sys.stderr.write("e2e: %s exited %s, %s exited %s\n%s%s" %
                         (server_cmd[-1], server.returncode, client.args[0], client.returncode,
                          err, client.stderr))
    return last_json(out), last_json(client.stdout)


class Bench:
    def __init__(self, build, seconds, work):
        self.dir = os.path.join(build, "bench", "e2e")
        self.seconds = seconds
        self.work = work

    def prog(self, name):
        return os.path.join(self.dir, name)

    def library(self, receiver, blaster_args, latency=False, samples=None, extra=()):
        rargs = ["--flow-path", self.work] + list(extra)
        if latency:
            rargs += ["--latency"]
        if samples:
            rargs += ["--samples", samples]
        key = os.path.join(SOURCE, "tools", "keys", "terminal_rsa_private.pem")
        server = pin(0) + [self.prog("xelmd-e2e-blaster"), "--seconds", str(self.seconds),
                           "--terminal-key", key] + blaster_args
        return run_pair(server, lambda p: pin(1) + [self.prog(receiver), "--port", str(p)] + rargs,
                        self.work)

    def raw_stream(self, kind):
        dump = os.path.join(self.work, kind + ".frames")
        subprocess.run([self.prog("xelmd-e2e-blaster"), "--dump", dump, "--kind", kind],
                       check=True)
        recv, send = run_pair(pin(1) + [self.prog("xelmd-e2e-raw"), "stream-recv"],
                              lambda p: pin(0) + [self.prog("xelmd-e2e-raw"), "stream-send",
                                                  "--port", str(p), "--file", dump,
                                                  "--seconds", str(self.seconds)], self.work)
        return send, recv

    def ping(self, rate, samples):
        _, ping = run_pair(pin(1) + [self.prog("xelmd-e2e-raw"), "pong"],
                           lambda p: pin(0) + [self.prog("xelmd-e2e-raw"), "ping", "--port",
                                               str(p), "--rate", str(rate), "--seconds",
                                               str(self.seconds), "--samples", samples],
                           self.work)
        return ping


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def check_counts(label, sent, got, problems):
    if not sent.get("sent") or sent.get("sent") != got.get("received"):
        problems.append("%s: sent %s, received %s" % (label, sent.get("sent"), got.get("received")))


def throughput(bench, kinds, ciphers, problems):
    rows = []
    for kind in kinds:
        for name, cipher, compress in ciphers:
            # The baseline runs just before each configuration, so that both
            # see the same load on the shared machine.
            send, recv = bench.raw_stream(kind)
            check_counts("raw %s" % kind, send, recv, problems)
            raw = recv.get("rate", 0.0)
            args = ["--kind", kind, "--cipher", str(cipher)] + (["--compress"] if compress else [])
            sent, got = bench.library("xelmd-e2e-receiver", args)
            check_counts("%s %s" % (kind, name), sent, got, problems)
            rate = got.get("rate", 0.0)
            rows.append({"kind": kind, "cipher": name, "rate": rate, "raw": raw,
                         "ratio": rate / raw if raw else 0.0, "sent": sent.get("sent"),
                         "received": got.get("received"),
                         "bytes_per_frame": sent.get("bytes", 0) / max(1, sent.get("sent", 1))})
            print("  %-9s %-19s %10.0f /s   raw %10.0f /s   ratio %.2f" %
                  (kind, name, rate, raw, rows[-1]["ratio"]), flush=True)
    return rows


def best_of(repeat, run):
    """Runs repeat times; keeps the run with the lowest median, and every median."""
    best, medians = None, []
    for k in range(repeat):
        row = run(k)
        medians.append(row.get("p50_us"))
        if best is None or row.get("p50_us", 1e18) < best.get("p50_us", 1e18):
            best = row
    best["medians_us"] = medians
    return best


def latency(bench, rates, repeat, modes, problems):
    """modes: "unpinned" and/or "pinned"; the plot shows the first."""
    PHASE[0] = "latency"
    rows, curves = [], []
    for mode in modes:
        PINNING["latency"] = mode == "pinned"
        for rate in rates:
            def ping(k):
                path = os.path.join(bench.work, "ping-%s-%d-%d.txt" % (mode, rate, k))
                return dict(bench.ping(rate, path), samples_file=path)
            found = [("raw ping-pong (RTT/2)", "raw ping-pong RTT/2", best_of(repeat, ping))]
            for receiver, label in (("xelmd-e2e-receiver", "library, epoll wait"),
                                    ("xelmd-e2e-spin-receiver", "library, spinning reactor")):
                def lib(k):
                    path = os.path.join(bench.work, "%s-%s-%d-%d.txt" % (receiver, mode, rate, k))
                    sent, got = bench.library(receiver, ["--rate", str(rate)], latency=True,
                                              samples=path)
                    check_counts("%s %d/s" % (label, rate), sent, got, problems)
                    return dict(got, samples_file=path)
                found.append((label, label, best_of(repeat, lib)))
            for config, short, row in found:
                rows.append(dict(row, config=config, rate=rate, cores=mode))
                if mode == modes[0]:
                    curves.append(("%s %dk/s" % (short, rate // 1000), row["samples_file"]))
                print("  %-26s %-8s %7d/s  p50 %7.2f us  p99 %7.2f us  p99.9 %7.2f us" %
                      (config, mode, rate, row.get("p50_us", 0), row.get("p99_us", 0),
                       row.get("p999_us", 0)), flush=True)
    return rows, curves


# ---- the network thread's trace around slow updates ----

# Work with a beginning and an end in the trace, and what it is called here.
SPANS = [("sleep", "wake", "asleep when sent"), ("timer", "timer-end", "timer ran"),
         ("recycle", "recycle-end", "flows recycled"),
         ("connection-file", "connection-file-end", "connection file written"),
         ("block", "block-end", "memory block allocated")]
POINTS = [("sent", "sent something (heartbeat)"), ("events", "posted events ran")]


def read_trace(path):
    """(ns, event, arg, counters) tuples in time order."""
    rows = []
    with open(path) as f:
        for line in f:
            p = line.split()
            if len(p) >= 3:
                rows.append((int(p[0]), p[1], int(p[2]), tuple(int(v) for v in p[3:])))
    rows.sort(key=lambda r: r[0])
    return rows


def spans_of(rows, begin, end):
    out, start = [], None
    for ns, ev, _, _ in rows:
        if ev == begin:
            start = ns
        elif ev == end and start is not None:
            out.append((start, ns))
            start = None
    return out


def overlap(spans, starts, lo, hi):
    """Time of the spans inside [lo, hi]."""
    import bisect
    k = max(0, bisect.bisect_right(starts, lo) - 1)
    total = 0
    while k < len(spans) and spans[k][0] < hi:
        a, b = spans[k]
        total += max(0, min(b, hi) - max(a, lo))
        k += 1
    return total


def trace_causes(rows):
    """Per update after the first tenth: latency and what overlapped its way
    from the sender's send call to the callback."""
    import bisect
    spans = [(label, spans_of(rows, b, e)) for b, e, label in SPANS]
    spans.append(("long pass (>20 us)", [(ns - arg, ns) for ns, ev, arg, _ in rows
                                         if ev == "pass"]))
    starts = [[a for a, _ in sp] for _, sp in spans]
    points = {label: [ns for ns, ev, _, _ in rows if ev == name] for name, label in POINTS}
    updates = [r for r in rows if r[1] == "update"]
    out = []
    for k in range(max(1, len(updates) // 10), len(updates)):
        ns, _, latency, counters = updates[k]
        before = updates[k - 1][3]
        lo = ns - latency
        causes = {}
        for (label, sp), st in zip(spans, starts):
            t = overlap(sp, st, lo, ns)
            if t > 0:
                causes[label] = t
        for label, times in points.items():
            if bisect.bisect_left(times, ns) > bisect.bisect_left(times, lo):
                causes[label] = 0
        if len(counters) == 3 and len(before) == 3:
            if counters[0] > before[0]:
                causes["page fault"] = 0
            if counters[2] > before[2]:
                causes["preempted (involuntary switch)"] = 0
        out.append((latency, causes))
    return out


def trace_table(path, title):
    """Prints, for all updates and for those at or above p99 and p99.9, how
    often each kind of work overlapped them (and its mean time inside)."""
    per = trace_causes(read_trace(path))
    if not per:
        return {}
    ordered = sorted(v for v, _ in per)
    cut = {q: ordered[int(q * (len(ordered) - 1))] for q in (0.99, 0.999)}
    groups = [("all", per), ("p99+", [u for u in per if u[0] >= cut[0.99]]),
              ("p99.9+", [u for u in per if u[0] >= cut[0.999]])]
    labels = [label for _, _, label in SPANS] + ["long pass (>20 us)"] + \
        [label for _, label in POINTS] + ["page fault", "preempted (involuntary switch)"]
    print("  trace %s: %d updates, p50 %.1f us, p99 %.1f us, p99.9 %.1f us" %
          (title, len(per), ordered[len(ordered) // 2] / 1e3, cut[0.99] / 1e3,
           cut[0.999] / 1e3))
    print("    %-32s %16s %16s %16s" % ("overlapping the update's way", "all", "p99+", "p99.9+"))
    table = {}
    for label in labels + ["none of these"]:
        cells = []
        for _, group in groups:
            if label == "none of these":
                hits = [0 for _, c in group if not c]
            else:
                hits = [c[label] for _, c in group if label in c]
            share = 100.0 * len(hits) / max(1, len(group))
            mean = sum(hits) / len(hits) / 1e3 if hits else 0.0
            cells.append((share, mean))
        table[label] = cells
        print("    %-32s " % label + " ".join("%6.2f%% %6.1fus" % c for c in cells))
    return {"updates": len(per), "p99_ns": cut[0.99], "p999_ns": cut[0.999], "causes": table}


def traced(bench, rates, modes):
    """One traced run per rate and core mode."""
    PHASE[0] = "latency"
    found = []
    for mode in modes:
        PINNING["latency"] = mode == "pinned"
        for rate in rates:
            path = os.path.join(bench.work, "trace-%s-%d.txt" % (mode, rate))
            sent, got = bench.library("xelmd-e2e-trace-receiver", ["--rate", str(rate)],
                                      latency=True, extra=["--trace", path])
            title = "%s %d/s" % (mode, rate)
            found.append(dict(trace_table(path, title), rate=rate, cores=mode))
    return found


# ---- a small PNG plot with the standard library ----

FONT = {  # 3x5 glyphs, rows top to bottom, 3 bits each
    "0": "111101101101111", "1": "010110010010111", "2": "111001111100111",
    "3": "111001111001111", "4": "101101111001001", "5": "111100111001111",
    "6": "111100111101111", "7": "111001001001001", "8": "111101111101111",
    "9": "111101111001111", "A": "010101111101101", "B": "110101110101110",
    "C": "011100100100011", "D": "110101101101110", "E": "111100110100111",
    "F": "111100110100100", "G": "011100101101011", "H": "101101111101101",
    "I": "111010010010111", "K": "101101110101101", "L": "100100100100111",
    "M": "101111111101101", "N": "110101101101101", "O": "010101101101010",
    "P": "110101110100100", "R": "110101110101101", "S": "011100010001110",
    "T": "111010010010010", "U": "101101101101111", "V": "101101101101010",
    "W": "101101111111101", "X": "101101010101101", "Y": "101101010010010",
    "Z": "111001010100111", " ": "000000000000000", ".": "000000000000010",
    "/": "001001010100100", ",": "000000000010100", "-": "000000111000000",
    "(": "010100100100010", ")": "010001001001010", "%": "101001010100101",
    ":": "000010000010000", "=": "000111000111000",
}

COLOURS = [(31, 119, 180), (255, 127, 14), (44, 160, 44), (214, 39, 40), (148, 103, 189),
           (140, 86, 75), (227, 119, 194), (127, 127, 127), (188, 189, 34), (23, 190, 207)]


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = bytearray(b"\xff" * (w * h * 3))

    def dot(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            i = (y * self.w + x) * 3
            self.px[i:i + 3] = bytes(c)

    def line(self, x0, y0, x1, y1, c, width=1):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for k in range(n + 1):
            x = round(x0 + (x1 - x0) * k / n)
            y = round(y0 + (y1 - y0) * k / n)
            for d in range(width):
                self.dot(x, y + d, c)
                self.dot(x + d, y, c)

    def text(self, x, y, s, c=(0, 0, 0), scale=2):
        for ch in s.upper():
            g = FONT.get(ch, FONT[" "])
            for r in range(5):
                for col in range(3):
                    if g[r * 3 + col] == "1":
                        for a in range(scale):
                            for b in range(scale):
                                self.dot(x + col * scale + a, y + r * scale + b, c)
            x += 4 * scale

    def png(self, path):
        raw = b"".join(b"\x00" + bytes(self.px[y * self.w * 3:(y + 1) * self.w * 3])
                       for y in range(self.h))

        def chunk(tag, data):
            body = tag + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
        head = struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) +
                    chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def plot(curves, path, title):
    """CDF of each configuration's latency samples, logarithmic microseconds."""
    import math
    w, h = 900, 470
    left, right, top, bottom = 70, 880, 40, 330
    lo, hi = 1.0, 10000.0
    c = Canvas(w, h)
    c.text(left, 12, title)

    def xpos(us):
        us = min(max(us, lo), hi)
        return round(left + (right - left) * (math.log10(us) - math.log10(lo)) /
                     (math.log10(hi) - math.log10(lo)))

    def ypos(q):
        # Linear up to 0.9, then 0.99 and 0.999 equally spaced above it.
        t = q / 0.9 if q <= 0.9 else min(-math.log10(max(1.0 - q, 1e-3)), 3.0)
        return round(bottom - (bottom - top) * t / 3.0)
    grey = (215, 215, 215)
    for us in (1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000):
        x = xpos(us)
        c.line(x, top, x, bottom, grey)
        c.text(x - 4 * len(str(us)), bottom + 8, str(us))
    for q in (0, 0.25, 0.5, 0.75, 0.9, 0.99, 0.999):
        y = ypos(q)
        c.line(left, y, right, y, grey)
        c.text(8, y - 4, "%g" % q)
    c.line(left, bottom, right, bottom, (0, 0, 0))
    c.line(left, top, left, bottom, (0, 0, 0))
    c.text(left + 200, bottom + 30, "ONE-WAY LATENCY, MICROSECONDS (LOG); Y: FRACTION OF UPDATES")
    ly = bottom + 60
    for i, (label, samples_path) in enumerate(curves):
        colour = COLOURS[i % len(COLOURS)]
        try:
            with open(samples_path) as f:
                values = sorted(int(v) / 1000.0 for v in f if v.strip())
        except OSError:
            continue
        if not values:
            continue
        n = len(values)
        px, py = None, None
        for k in range(0, n, max(1, n // 2000)):
            x, y = xpos(values[k]), ypos(k / (n - 1 if n > 1 else 1))
            if px is not None:
                c.line(px, py, x, y, colour, 2)
            px, py = x, y
        col, row = i % 2, i // 2
        bx, by = left + col * 420, ly + row * 22
        c.line(bx, by + 5, bx + 30, by + 5, colour, 3)
        c.text(bx + 40, by, label)
    c.png(path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--seconds", type=float, default=1.5, help="per run")
    ap.add_argument("--repeat", type=int, default=3,
                    help="latency runs per configuration; the lowest median is kept")
    ap.add_argument("--png", default=None)
    ap.add_argument("--json", default=None)
    ap.add_argument("--quick", action="store_true", help="no cipher, both kinds, one rate")
    ap.add_argument("--pin", default="throughput",
                    help="phases that pin the sender to core 0 and the receiver to core 1")
    ap.add_argument("--latency-cores", default="unpinned,pinned",
                    help="latency runs unpinned, pinned (sender core 0, receiver core 1), or both")
    ap.add_argument("--latency-only", action="store_true", help="no throughput runs")
    ap.add_argument("--trace", action="store_true",
                    help="also one traced run per rate: what the network thread did around "
                    "the slow updates")
    ap.add_argument("--smoke", action="store_true",
                    help="one short run per program; fails unless every count matches")
    a = ap.parse_args()
    out_dir = os.path.join(a.build, "bench", "e2e")
    png = a.png or os.path.join(out_dir, "e2e_latency.png")
    js = a.json or os.path.join(out_dir, "e2e_results.json")
    work = tempfile.mkdtemp(prefix="xelmd-e2e-")
    for phase in PINNING:
        PINNING[phase] = phase in a.pin.split(",")
    problems = []
    try:
        bench = Bench(a.build, 1.0 if a.smoke else a.seconds, work)
        kinds, ciphers, rates = KINDS, CIPHERS, RATES
        if a.quick or a.smoke:
            ciphers = CIPHERS[:1]
            rates = RATES[:1]
        if a.smoke:
            kinds = KINDS[1:]
        start_load = load()
        print("End to end (load average at start: %s; throughput %s)" %
              (start_load, "pinned: sender core 0, receiver core 1" if PINNING["throughput"]
               else "not pinned"), flush=True)
        print("Throughput, depth updates per second delivered to OnRtnDepthMarketData:", flush=True)
        t_rows = [] if a.latency_only else throughput(bench, kinds, ciphers, problems)
        print("Latency, wire (sender's send call) to callback, one way:", flush=True)
        modes = a.latency_cores.split(",")[:1 if a.smoke else None]
        l_rows, curves = latency(bench, rates, 1 if a.smoke else a.repeat, modes, problems)
        traces = traced(bench, rates, modes) if a.trace else []
        end_load = load()
        print("load average at end: %s" % end_load)
        if not a.smoke:
            plot(curves, png, "XELMD END TO END: CDF OF ONE-WAY LATENCY (TAIL SCALE), LOOPBACK, 2 CORES")
            print("plot: %s" % png)
        for r in l_rows:
            r.pop("samples_file", None)  # in the work directory, removed below
        with open(js, "w") as f:
            json.dump({"load_start": start_load, "load_end": end_load,
                       "throughput_pinned": PINNING["throughput"],
                       "throughput": t_rows,
                       "latency": l_rows, "trace": traces}, f, indent=1)
        print_tables(t_rows, l_rows)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        print("COUNT MISMATCH: " + p)
    return 1 if problems else 0


def print_tables(t_rows, l_rows):
    print("\n| kind | cipher | updates/s | raw stream msgs/s | ratio | bytes/frame |")
    print("|---|---|---:|---:|---:|---:|")
    for r in t_rows:
        print("| %s | %s | %.0f | %.0f | %.2f | %.0f |" %
              (r["kind"], r["cipher"], r["rate"], r["raw"], r["ratio"], r["bytes_per_frame"]))
    print("\n| configuration | cores | rate/s | min us | median us | p99 us | p99.9 us | "
          "medians of the runs |")
    print("|---|---|---:|---:|---:|---:|---:|---|")
    for r in l_rows:
        print("| %s | %s | %d | %.1f | %.1f | %.1f | %.1f | %s |" %
              (r["config"], r["cores"], r["rate"], r.get("min_us", 0), r.get("p50_us", 0),
               r.get("p99_us", 0), r.get("p999_us", 0),
               ", ".join("%.1f" % m for m in r["medians_us"] if m)))


if __name__ == "__main__":
    sys.exit(main())
