#!/usr/bin/env python3
"""End-to-end throughput and latency of the library, beside plain sockets.

Runs the blaster (the library's server side, the front simulator's dialogue)
against the receiving application (public interface only) for each
configuration, then the plain-socket baselines, prints the tables and writes
one latency plot per rate (matplotlib; when the interpreter it was started
with lacks it, it runs again under /usr/bin/python3). --trace adds a traced
run per rate and cores: what the network thread did on the way of the slow
updates.

usage: run.py [--build DIR] [--seconds S] [--repeat N] [--pin PHASES]
              [--latency-cores unpinned,pinned] [--png FILE] [--json FILE]
              [--receivers epoll,spin] [--latency-only] [--trace] [--quick] [--smoke]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

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

    def paced(self, rate, samples):
        recv, _ = run_pair(pin(1) + [self.prog("xelmd-e2e-raw"), "paced-recv", "--samples",
                                     samples],
                           lambda p: pin(0) + [self.prog("xelmd-e2e-raw"), "paced-send", "--port",
                                               str(p), "--rate", str(rate), "--seconds",
                                               str(self.seconds)], self.work)
        return recv


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


STATS = ("p50_us", "p99_us", "p999_us")


def median(values):
    v = sorted(values)
    if not v:
        return 0.0
    return v[len(v) // 2] if len(v) % 2 else (v[len(v) // 2 - 1] + v[len(v) // 2]) / 2


def repeated(repeat, run):
    """Runs repeat times. The figures reported are the medians over the runs
    of each statistic (the machine is shared: single runs swing widely), with
    every run's value kept to show the spread; the plot uses the run whose
    p99 is that median."""
    runs = [run(k) for k in range(repeat)]
    row = {"runs": {s: [r.get(s, 0.0) for r in runs] for s in STATS + ("min_us",)}}
    for s in STATS + ("min_us",):
        row[s] = median(row["runs"][s])
    by_p99 = sorted(runs, key=lambda r: r.get("p99_us", 0.0))
    row["samples_file"] = by_p99[(len(by_p99) - 1) // 2].get("samples_file")
    return row


LIBRARY_RECEIVERS = {"epoll": ("xelmd-e2e-receiver", "library, epoll wait"),
                     "spin": ("xelmd-e2e-spin-receiver", "library, spinning reactor")}
RAW = "raw ping-pong (RTT/2)"
PACED = "raw paced stream"


def latency(bench, rates, repeat, modes, problems, receivers=("epoll", "spin")):
    """modes: "unpinned" and/or "pinned"; each rate's plot shows every mode.
    Each configuration is compared with the raw ping-pong of the same mode
    and rate, measured just before it."""
    PHASE[0] = "latency"
    rows, curves = [], {}
    for mode in modes:
        PINNING["latency"] = mode == "pinned"
        for rate in rates:
            def ping(k):
                path = os.path.join(bench.work, "ping-%s-%d-%d.txt" % (mode, rate, k))
                return dict(bench.ping(rate, path), samples_file=path)
            def paced(k):
                path = os.path.join(bench.work, "paced-%s-%d-%d.txt" % (mode, rate, k))
                return dict(bench.paced(rate, path), samples_file=path)
            found = [(RAW, repeated(repeat, ping)), (PACED, repeated(repeat, paced))]
            for key in receivers:
                receiver, label = LIBRARY_RECEIVERS[key]

                def lib(k):
                    path = os.path.join(bench.work, "%s-%s-%d-%d.txt" % (receiver, mode, rate, k))
                    sent, got = bench.library(receiver, ["--rate", str(rate)], latency=True,
                                              samples=path)
                    check_counts("%s %d/s" % (label, rate), sent, got, problems)
                    return dict(got, samples_file=path)
                found.append((label, repeated(repeat, lib)))
            raw, stream = found[0][1], found[1][1]
            for config, row in found:
                ratios = {s: row[s] / raw[s] if raw.get(s) else 0.0 for s in STATS}
                to_paced = {s: row[s] / stream[s] if stream.get(s) else 0.0 for s in STATS}
                rows.append(dict(row, config=config, rate=rate, cores=mode, ratios=ratios,
                                 ratios_paced=to_paced))
                curves.setdefault(rate, []).append(("%s, %s" % (config, mode), row["samples_file"]))
                print("  %-26s %-8s %7d/s  p50 %7.1f us  p99 %8.1f us (%5.1fx, %5.1fx)  "
                      "p99.9 %8.1f us (%5.1fx, %5.1fx)" %
                      (config, mode, rate, row["p50_us"], row["p99_us"], ratios["p99_us"],
                       to_paced["p99_us"], row["p999_us"], ratios["p999_us"],
                       to_paced["p999_us"]), flush=True)
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


def wake_split(rows):
    """For the updates sent while the thread slept: (time from the send to
    the thread's wake-up, from the wake-up to the callback), ns."""
    import bisect
    sleeps = [ns for ns, ev, _, _ in rows if ev == "sleep"]
    wakes = [ns for ns, ev, _, _ in rows if ev == "wake"]
    updates = [(ns, arg) for ns, ev, arg, _ in rows if ev == "update"]
    out = []
    for ns, latency in updates[len(updates) // 10:]:
        sent = ns - latency
        k = bisect.bisect_right(sleeps, sent) - 1
        w = bisect.bisect_right(wakes, sent)
        if k >= 0 and w < len(wakes) and wakes[w] <= ns and (w == 0 or wakes[w - 1] < sleeps[k]):
            out.append((wakes[w] - sent, ns - wakes[w]))
    return out


def trace_table(path, title):
    """Prints, for all updates and for those at or above p99 and p99.9, how
    often each kind of work overlapped them (and its mean time inside)."""
    rows = read_trace(path)
    per = trace_causes(rows)
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
    split = wake_split(rows)
    found = {"updates": len(per), "p99_ns": cut[0.99], "p999_ns": cut[0.999], "causes": table}
    for k, name in ((0, "send to wake-up"), (1, "wake-up to callback")):
        v = sorted(x[k] for x in split)
        if not v:
            continue
        q = {p: v[int(p * (len(v) - 1))] / 1e3 for p in (0.5, 0.99, 0.999)}
        found[name] = q
        print("    sent while asleep (%d updates), %-19s p50 %8.1f us  p99 %8.1f us  "
              "p99.9 %8.1f us" % (len(v), name + ":", q[0.5], q[0.99], q[0.999]))
    return found


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


# ---- plots ----

def plot(curves, path, title):
    """CDF of each configuration's latency samples: logarithmic microseconds
    across, and upwards the fraction of updates on a tail scale (linear to
    0.9, then 0.99, 0.999 and 0.9999 equally spaced)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import math

    def tail(q):
        return q / 0.9 if q <= 0.9 else 1.0 - math.log10(max(1.0 - q, 1e-4)) - 1.0

    fig, ax = plt.subplots(figsize=(9, 6), dpi=100)
    slowest = 1.0
    for label, samples_path in curves:
        try:
            with open(samples_path) as f:
                values = sorted(int(v) / 1000.0 for v in f if v.strip())
        except (OSError, TypeError):
            continue
        if len(values) < 2:
            continue
        n = len(values)
        slowest = max(slowest, values[-1])
        step = max(1, n // 4000)
        idx = list(range(0, n, step)) + list(range(max(0, n - 2000), n))
        idx = sorted(set(idx))
        ax.plot([values[k] for k in idx], [tail(k / (n - 1)) for k in idx], label=label,
                linewidth=1.6, linestyle="--" if "raw" in label else "-")
    ax.set_xscale("log")
    # Up to the decade above the slowest sample, at least 10 ms.
    ax.set_xlim(1, 10 ** max(4, math.ceil(math.log10(slowest))))
    ticks = [0, 0.25, 0.5, 0.75, 0.9, 0.99, 0.999, 0.9999]
    ax.set_yticks([tail(q) for q in ticks])
    ax.set_yticklabels(["%g" % q for q in ticks])
    ax.set_ylim(0, tail(0.9999))
    ax.grid(True, which="both", color="#dddddd", linewidth=0.6)
    ax.set_xlabel("one-way latency, microseconds (log)")
    ax.set_ylabel("fraction of updates (tail scale)")
    ax.set_title(title, fontsize=11)
    ax.legend(fontsize=8, loc="upper center", bbox_to_anchor=(0.5, -0.12), ncol=2,
              frameon=False)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def plot_path(base, rate):
    root, ext = os.path.splitext(base)
    return "%s_%dk%s" % (root, rate // 1000, ext or ".png")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--seconds", type=float, default=1.5, help="per run")
    ap.add_argument("--repeat", type=int, default=3,
                    help="latency runs per configuration; the medians over the runs are kept")
    ap.add_argument("--png", default=None,
                    help="plot file name; one plot per rate, suffixed _10k, _100k")
    ap.add_argument("--receivers", default="epoll,spin",
                    help="library receivers in the latency runs (epoll, spin)")
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
        print("Latency, wire (sender's send call) to callback, one way; in brackets the ratios to "
              "the raw ping-pong and to the raw paced stream:", flush=True)
        modes = a.latency_cores.split(",")[:1 if a.smoke else None]
        l_rows, curves = latency(bench, rates, 1 if a.smoke else a.repeat, modes, problems,
                                 a.receivers.split(","))
        traces = traced(bench, rates, modes) if a.trace else []
        end_load = load()
        print("load average at end: %s" % end_load)
        if not a.smoke:
            for rate, rate_curves in sorted(curves.items()):
                path = plot_path(png, rate)
                plot(rate_curves, path, "xelmd end to end, %d updates/s: one-way latency, "
                     "loopback, 2 cores" % rate)
                print("plot: %s" % path)
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
    print("\nLatency: medians over the runs (every run's value in brackets); ratios p50/p99/p99.9 "
          "to the raw ping-pong of the same cores and rate (target p99 <= 2x, p99.9 <= 3x) "
          "and to the raw paced stream (open loop, as the library's sender).")
    print("\n| configuration | cores | rate/s | median us | p99 us | p99.9 us | "
          "ratio to ping-pong | target | ratio to paced stream |")
    print("|---|---|---:|---:|---:|---:|---:|---|---:|")
    for r in l_rows:
        runs = r.get("runs", {})

        def cell(s):
            return "%.1f (%s)" % (r.get(s, 0), ", ".join("%.0f" % v for v in runs.get(s, [])))
        def ratio(key):
            q = r.get(key, {})
            return " / ".join("%.2f" % q.get(s, 0) for s in STATS)
        q = r.get("ratios", {})
        target = "-" if r["config"] in (RAW, PACED) else (
            "met" if q.get("p99_us", 9) <= 2 and q.get("p999_us", 9) <= 3 else "not met")
        print("| %s | %s | %d | %s | %s | %s | %s | %s | %s |" %
              (r["config"], r["cores"], r["rate"], cell("p50_us"), cell("p99_us"),
               cell("p999_us"), ratio("ratios"), target, ratio("ratios_paced")))


def matplotlib_python():
    """The interpreter to run under: this one when it has matplotlib, else
    the system's (Debian's python3-matplotlib), else none."""
    import importlib.util
    if importlib.util.find_spec("matplotlib") is not None:
        return None
    system = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.access(system, os.X_OK):
        return system
    return None


if __name__ == "__main__":
    other = matplotlib_python()
    if other and "--smoke" not in sys.argv:
        os.execv(other, [other] + sys.argv)
    sys.exit(main())
