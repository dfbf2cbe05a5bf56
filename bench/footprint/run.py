#!/usr/bin/env python3
"""Memory, connection set-up and public-key cost of one API object, against
xelmd-front processes on loopback. Prints two tables; each figure is beside
what the design implies or beside a baseline measured in the same run.

Where valgrind is installed, a third table: instructions per update on the
client's network thread (callgrind), without the cipher's, beside the
generated decoders' share of the same run.

usage: bench/footprint/run.py [BUILD_DIR] [--updates N] [--runs N] [--topics 1,4,64]
                              [--instructions-only] [--no-instructions]
"""
import argparse
import json
import math
import os
import re
import shutil
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


# Instructions per update: callgrind on the end-to-end receiver, fed by the
# end-to-end blaster (bench/e2e) with no cipher, unpaced (the receiver reads
# many frames per call) and paced (about one frame per read, as a live feed).
INSTRUCTION_RUNS = [("snapshot", 0), ("snapshot", 5000), ("increment", 0), ("increment", 5000)]
# 'read' of the same runs on the library before the per-update work was
# cut (measured with this script): (kind, rate) -> instructions per update.
PREVIOUS = {("snapshot", 0): 1244, ("snapshot", 5000): 1523, ("increment", 0): 1633,
            ("increment", 5000): 1848}
# The dispatcher alone (bench_dispatch --count), same method: kind -> before.
PREVIOUS_DISPATCH = {"snapshot": 839, "increment": 1264}
TARGET = {"snapshot": 1500, "increment": 1100}
DECODERS = re.compile(r"Field::Xel\w+Field::from_stream")


def inclusive_costs(out_file):
    """{function: (inclusive Ir, self Ir)} from callgrind_annotate. A function
    whose code is inlined from several files has a line per file: its self
    cost is their sum, its inclusive cost the largest (the line of its own
    file)."""
    costs = {}
    for inclusive in (True, False):
        text = subprocess.run(["callgrind_annotate", "--inclusive=" + ("yes" if inclusive else "no"),
                               "--threshold=100", "--auto=no", out_file], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, check=True).stdout
        for line in text.splitlines():
            m = re.match(r"\s*([\d,]+) (?:\([\d. %]+\) )?\s*[^:]*:(.+?)(?: \[.*\])?$", line)
            if not m:
                continue
            ir = int(m.group(1).replace(",", ""))
            name = m.group(2)
            inc, own = costs.get(name, (0, 0))
            costs[name] = (max(inc, ir), own) if inclusive else (inc, own + ir)
    return costs


def instructions(build, kind, rate, seconds):
    e2e = os.path.join(build, "bench", "e2e")
    key = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "keys",
                       "terminal_rsa_private.pem")
    with tempfile.TemporaryDirectory(prefix="xelmd-callgrind-") as work:
        port_file = os.path.join(work, "port")
        blaster = subprocess.Popen(
            [os.path.join(e2e, "xelmd-e2e-blaster"), "--seconds", str(seconds), "--terminal-key",
             key, "--kind", kind, "--cipher", "0", "--port-file", port_file]
            + (["--rate", str(rate)] if rate else []),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            for _ in range(400):
                if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
                    break
                time.sleep(0.05)
            with open(port_file) as f:
                port = f.readline().strip()
            out_file = os.path.join(work, "callgrind.out")
            got = subprocess.run(
                ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file,
                 os.path.join(e2e, "xelmd-e2e-receiver"), "--port", port, "--flow-path",
                 work + "/"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                timeout=600)
            blaster.communicate(timeout=60)
        finally:
            if blaster.poll() is None:
                blaster.kill()
                blaster.wait()
        received = [json.loads(l) for l in got.stdout.splitlines() if l.startswith("{")]
        updates = received[-1]["received"] if received else 0
        if not updates:
            return None
        costs = inclusive_costs(out_file)
    thread = next(v[0] for k, v in costs.items() if k.startswith("Parallel::Reactor::thread_proc"))
    # The key exchange is once per connection: left out whole (its cipher
    # work and the rest), as is cipher work elsewhere (the terminal
    # information's RSA); SM2's functions run only inside the exchange.
    def inclusive(prefix):
        return max((v[0] for k, v in costs.items() if k.startswith(prefix)), default=0)
    exchange = inclusive("Api::MdApi::on_connected()") + inclusive("Api::MdApi::set_channel_key()")
    crypto = exchange + sum(v[1] for k, v in costs.items() if k.startswith("Cipher::")
                            and not k.startswith(("Cipher::Sm2", "Cipher::(anonymous namespace)::")))
    read = next(v[0] for k, v in costs.items() if k.startswith("Network::XeloClientChannel::read()"))
    decode = sum(v[0] for k, v in costs.items() if DECODERS.search(k) and "'" not in k)
    return {"updates": updates, "per_update": (thread - crypto) / updates,
            "read": read / updates, "decoders": decode / updates}


def dispatch_instructions(build, kind, packets=20000):
    """Instructions per packet of the dispatcher alone and of the generated
    decoders alone over the same packets, 10,000 cached instruments."""
    with tempfile.TemporaryDirectory(prefix="xelmd-callgrind-") as work:
        out_file = os.path.join(work, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file,
                        "--toggle-collect=*count_dispatch*", "--toggle-collect=*count_decode*",
                        os.path.join(build, "bench", "bench_dispatch"), "--count", kind,
                        str(packets)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True, timeout=600)
        costs = inclusive_costs(out_file)
    def of(name):
        return next(v[0] for k, v in costs.items() if name in k) / packets
    return of("count_dispatch("), of("count_decode(")


def instruction_table(build):
    print("\nInstructions per packet of the dispatcher alone (callgrind, bench_dispatch --count, "
          "10,000 cached\n  instruments), beside the generated decoders alone over the same "
          "packets and the figure before\n  the per-update work was cut")
    print(f"{'kind':<10} {'dispatch':>9} {'decoders':>9} {'ratio':>6} {'before':>7} {'ratio':>6}")
    for kind in ("snapshot", "increment"):
        d, dec = dispatch_instructions(build, kind)
        before = PREVIOUS_DISPATCH[kind]
        print(f"{kind:<10} {d:>9.0f} {dec:>9.0f} {d / dec:>6.2f} {before:>7} {d / before:>6.2f}")
    print("\nInstructions per update through the client (callgrind on xelmd-e2e-receiver, no "
          "cipher). 'thread': the\n  network thread less the key exchange (its cipher and "
          "the rest), login spread over the updates; 'read':\n  the channel's reads (recv, frame, flow, "
          "dispatch, callback); 'decoders': the generated decoders\n  within them, and the "
          "ratio of 'read' to it; 'before': 'read' before the per-update work was cut.\n  "
          f"Target: at most {TARGET['snapshot']} per snapshot and {TARGET['increment']} per "
          "increment")
    print(f"{'kind':<10} {'rate/s':>8} {'updates':>8} {'thread':>7} {'read':>7} {'decoders':>9} "
          f"{'ratio':>6} {'before':>7} {'ratio':>6} {'target':>7}")
    for kind, rate in INSTRUCTION_RUNS:
        r = instructions(build, kind, rate, 4 if rate else 2)
        if r is None:
            print(f"{kind:<10} {rate or 'unpaced':>8} failed")
            continue
        before = PREVIOUS[(kind, rate)]
        print(f"{kind:<10} {rate or 'unpaced':>8} {r['updates']:>8} {r['per_update']:>7.0f} "
              f"{r['read']:>7.0f} {r['decoders']:>9.0f} {r['read'] / r['decoders']:>6.1f} "
              f"{before:>7.0f} {r['read'] / before:>6.2f} "
              f"{TARGET[kind]:>7}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--updates", type=int, default=1000000)
    ap.add_argument("--runs", type=int, default=30)
    ap.add_argument("--topics", default="1,4,64")
    ap.add_argument("--instructions-only", action="store_true",
                    help="only the callgrind table of instructions per update")
    ap.add_argument("--no-instructions", action="store_true", help="leave out the callgrind table")
    a = ap.parse_args()
    build = a.build
    if a.instructions_only:
        if not shutil.which("valgrind"):
            print("instructions per update: valgrind is not installed")
            return 1
        instruction_table(build)
        return 0
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
    if not a.no_instructions:
        if shutil.which("valgrind"):
            instruction_table(build)
        else:
            print("\ninstructions per update: valgrind is not installed, table left out")
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    print(f"\nload average at end: {' '.join(load)}")


if __name__ == "__main__":
    sys.exit(main())
