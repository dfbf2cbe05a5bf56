#!/usr/bin/env python3
"""Memory, connection set-up and public-key cost of one API object, against
xelmd-front processes on loopback. Prints two tables; each figure is beside
what the design implies or beside a baseline measured in the same run.

usage: bench/footprint/run.py [BUILD_DIR] [--updates N] [--runs N] [--topics 1,4,64]
"""
import argparse
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
RECYCLE_EVERY = 1024  # packets of a flow between recyclings (MdApi::RECYCLE_EVERY)
TOPIC_BLOCK = 10 * MIB  # a topic flow's blocks
RATE = 100000           # packets per second over all topics asked of the front


def start_front(build, topics, rate):
    port_file = tempfile.NamedTemporaryFile(prefix="xelmd-footprint-port-", delete=False).name
    os.unlink(port_file)
    ids = ",".join(str(100 + i) for i in range(topics))
    front = subprocess.Popen(
        [os.path.join(build, "bin", "xelmd-front"), "--listen", "127.0.0.1:0", "--quiet",
         "--port-file", port_file, "--topics", ids, "--rate", str(rate)],
        stdout=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
            break
        time.sleep(0.05)
    with open(port_file) as f:
        port = int(f.readline())
    os.unlink(port_file)
    return front, f"tcp://127.0.0.1:{port}", ids


def stop(front):
    front.terminate()
    front.wait(timeout=10)


def lines(cmd, timeout):
    out = subprocess.run(cmd, stdout=subprocess.PIPE, timeout=timeout, check=True, text=True)
    return [json.loads(l) for l in out.stdout.splitlines() if l.startswith("{")]


def mib(kb):
    return f"{kb / 1024:.1f}"


def memory(build, topics, updates):
    rate = min(100000, max(1, math.ceil(RATE / topics)))
    front, uri, ids = start_front(build, topics, rate)
    try:
        rows = lines([os.path.join(build, "bench", "footprint", "footprint_client"), "memory",
                      uri, ids, str(updates), "10"], timeout=300)
    finally:
        stop(front)
    return rows


def design_steady(topics, updates, seconds, unit):
    """Resident bytes of the topic flows after `updates` updates spread evenly
    over the topics in `seconds`: a flow touches every page it writes until
    its blocks are reused; recycling (every 1,024 packets of a flow and every
    second, keeping the block before the current one) lets it reuse blocks
    once it holds the current block, the one kept and the blocks filled
    between two recyclings."""
    per_topic = updates / topics * unit
    between = min(per_topic / seconds, RECYCLE_EVERY * unit)
    ring = 2 + math.ceil(between / TOPIC_BLOCK)
    return topics * min(per_topic, ring * TOPIC_BLOCK), ring


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--updates", type=int, default=1000000)
    ap.add_argument("--runs", type=int, default=30)
    ap.add_argument("--topics", default="1,4,64")
    a = ap.parse_args()
    build = a.build
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    print(f"load average at start: {' '.join(load)} ({os.cpu_count()} cores)")

    # Public-key steps alone, and the stored size of one update.
    key = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "keys",
                       "terminal_rsa_private.pem")
    prims = lines([os.path.join(build, "bench", "footprint", "footprint_primitives"),
                   str(max(a.runs, 20)), key], timeout=120)
    design = next(p for p in prims if p["kind"] == "design")
    unit = design["unit_bytes"]

    print(f"\nMemory of one API object (kB figures from /proc/self/status; "
          f"{unit:.0f} bytes stored per update, API object {design['api_object_bytes']} bytes)")
    print(f"{'topics':>6} {'baseline':>9} {'login':>9} {'+login':>8} "
          f"{'after':>9} {'anon':>9} {'design':>9} {'ring':>5} {'rate/s':>8} {'cpu ns':>7} "
          f"{'released':>9}"
          f"   RSS after each tenth of the updates (MiB)")
    print("  (MiB: VmRSS before CreateXeloMduserApi, after OnRspUserLogin, RssAnon added by "
          "them; VmRSS and RssAnon after the updates,\n   the design's RssAnon for them (login "
          "plus the topic flows' blocks, 'ring' blocks of 10 MiB a topic), update rate, client "
          "CPU\n   per update (both threads, user + system), VmRSS after Release and Join)")
    for t in [int(x) for x in a.topics.split(",")]:
        rows = memory(build, t, a.updates)
        rss = {r["at"]: r for r in rows if r["kind"] == "rss"}
        steps = [r for r in rows if r["kind"] == "rss" and r["at"].endswith("s")
                 and r["at"] != "released"]
        rate = next((r for r in rows if r["kind"] == "rate"), None)
        if rate is None or not steps:
            print(f"{t:>6} failed: {rows}")
            continue
        base, login, last = rss["baseline"], rss["login"], steps[-1]
        flows, ring = design_steady(t, rate["updates"], rate["seconds"], unit)
        expect_kb = login["anon_kb"] + flows / 1024
        print(f"{t:>6} {mib(base['rss_kb']):>9} {mib(login['rss_kb']):>9} "
              f"{mib(login['anon_kb'] - base['anon_kb']):>8} {mib(last['rss_kb']):>9} "
              f"{mib(last['anon_kb']):>9} {mib(expect_kb):>9} {ring:>5} "
              f"{rate['updates'] / rate['seconds']:>8.0f} {rate['cpu_ns_per_update']:>7.0f} "
              f"{mib(rss['released']['rss_kb']):>9}   "
              + " ".join(mib(s["rss_kb"]) for s in steps))

    # Set-up: Init to login, beside a raw TCP connect and round trip.
    front, uri, _ = start_front(build, 1, 50)
    try:
        runs = lines([os.path.join(build, "bench", "footprint", "footprint_client"), "setup", uri,
                      str(a.runs)], timeout=300)
    finally:
        stop(front)
    runs = [r for r in runs if r["kind"] == "setup"]

    def stat(key):
        v = sorted(r[key] for r in runs)
        p99 = v[min(len(v) - 1, math.ceil(len(v) * 0.99) - 1)]
        return statistics.median(v), p99

    print(f"\nConnection set-up over {len(runs)} runs (microseconds; p99 of so few runs is "
          f"nearly the maximum)")
    print(f"{'step':<44} {'median':>9} {'p99':>9}")
    for key, label in [("raw_us", "raw TCP connect + 64-byte round trip"),
                       ("init_us", "Init returns"),
                       ("connected_us", "Init to OnFrontConnected"),
                       ("login_us", "Init to OnRspUserLogin"),
                       ("release_us", "Release and Join")]:
        m, p = stat(key)
        print(f"{label:<44} {m:>9.0f} {p:>9.0f}")
    login_median = stat("login_us")[0]
    client = front_side = 0.0
    for p in prims:
        if p["kind"] != "primitive":
            continue
        if p.get("error"):
            print(f"{p['name']}: failed")
            continue
        if p["side"] == "client":
            client += p["median_us"]
        else:
            front_side += p["median_us"]
        print(f"{p['side'] + ': ' + p['name']:<44} {p['median_us']:>9.0f} {p['p99_us']:>9.0f}")
    print(f"{'public-key work, client':<44} {client:>9.0f}   "
          f"{100 * client / login_median:.1f}% of Init to login")
    print(f"{'public-key work, front':<44} {front_side:>9.0f}   "
          f"{100 * front_side / login_median:.1f}% of Init to login")
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    print(f"\nload average at end: {' '.join(load)}")


if __name__ == "__main__":
    sys.exit(main())
