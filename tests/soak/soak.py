#!/usr/bin/env python3
"""Soak run: the recorder and the API cycler against fronts behind a faulty
proxy, with the cycler's front killed and restarted, then every assertion checked.

  soak.py --tree build-asan --cycler build-asan/soak/api_cycler --seconds 60

Processes (all on 127.0.0.1, in a scratch directory):
  front R  xelmd-front, topics 100 and 200, scripted faults; the recorder's
  front C  xelmd-front, topic 100, scripted faults; the cycler's
  proxy    fault_proxy.FaultProxy, one listener for each front
  xelmd-record  through the proxy to front R, heartbeat timeout 4 s
  api_cycler    through the proxy to front C (and a refusing address)

Exit 0 only when: no process crashed or hung, no sanitizer report, the
recorder's files hold every packet once and in order (recorded_rows), the
recorder and the cycler kept their descriptors and memory flat after the
warm-up, and both made progress. Every run prints its figures.
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fault_proxy  # noqa: E402
import recorded_rows  # noqa: E402

TRADING_DAY = "20250912"
RECORDED_TOPICS = (100, 200)
RATE = 50  # packets per second per topic on front R
INSTRUMENTS = 4  # also the snapshots a front starts each topic with
HEARTBEAT_S = 4  # the shortest heartbeat timeout the library takes
SAMPLE_S = 0.5
# "Flat": after the first third of the run, the peak of the last third may
# pass the peak of the middle third by at most this much.
RSS_GROWTH_FRACTION = 0.20
RSS_GROWTH_FLOOR_KIB = 8 * 1024
FD_GROWTH = 4
SANITIZER = re.compile(r"ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)"
                       r"|runtime error:|WARNING: ThreadSanitizer")
ASAN_ENV = {
    # A small quarantine keeps freed memory from looking like growth.
    "ASAN_OPTIONS": "detect_leaks=1:quarantine_size_mb=16:malloc_context_size=20",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
}


def front_port(rng):
    """A free port below the ephemeral range: a killed front gets it back on
    restart, since no outgoing connection is given it meanwhile."""
    low = 32768
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            low = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        pass
    for _ in range(200):
        port = rng.randint(max(1024, low - 12000), low - 1)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    sys.exit("soak: no free port below %d" % low)


def scenario(faults):
    return json.dumps({"faults": faults})


def recorder_scenario():
    """Every connection dropped 9 s after its login; every few connections
    one more scripted fault soon after the login."""
    faults = [{"action": "drop", "after": 9, "connection": 0}]
    cycle = [None, "bad_sequence", "garbage", "oversized_frame", None, "key_error",
             "bad_sequence", "stall", None, "garbage"]
    for n in range(1, 1000):
        action = cycle[n % len(cycle)]
        if action == "key_error":
            faults.append({"action": action, "connection": n})
        elif action is not None:
            faults.append({"action": action, "after": 0.5 + (n % 7) * 0.3, "connection": n,
                           "bytes": 8 + (n * 37) % 300})
    return scenario(faults)


def cycler_scenario():
    """One connection in three gets a scripted fault, most of them soon
    after the login, so that short lives meet them too."""
    cycle = [None, "key_refused", None, None, "garbage", None, None, "key_error", None, None,
             "bad_sequence", None, None, "drop", None, None, "oversized_frame", None, None,
             "stall", None]
    faults = []
    for n in range(1, 5000):
        action = cycle[n % len(cycle)]
        if action in ("key_refused", "key_error"):
            faults.append({"action": action, "connection": n})
        elif action is not None:
            faults.append({"action": action, "after": 0.1 + (n % 5) * 0.2, "connection": n})
    return scenario(faults)


class Front:
    """One xelmd-front on a fixed port, killed and restarted on demand."""

    def __init__(self, name, binary, work, port, args, env):
        self.name, self.binary, self.work, self.port = name, binary, work, port
        self.args, self.env = args, env
        self.log = os.path.join(work, "front-%s.log" % name)
        self.proc = None
        self.restarts = []  # epoch times of the restarts
        self.failures = []

    def start(self):
        port_file = os.path.join(self.work, "front-%s.port" % self.name)
        for _ in range(20):  # the port may linger for a moment after a kill
            if os.path.exists(port_file):
                os.remove(port_file)
            with open(self.log, "a") as log:
                self.proc = subprocess.Popen(
                    [self.binary, "--listen", "127.0.0.1:%d" % self.port, "--port-file",
                     port_file] + self.args, stdout=log, stderr=subprocess.STDOUT, env=self.env)
            for _ in range(60):
                if os.path.exists(port_file) or self.proc.poll() is not None:
                    break
                time.sleep(0.05)
            if os.path.exists(port_file):
                return True
            self.proc.kill()
            self.proc.wait()
            time.sleep(0.1)
        self.failures.append("front %s would not start again on port %d" % (self.name, self.port))
        return False

    def check_alive(self):
        rc = self.proc.poll()
        if rc is not None:
            self.failures.append("front %s ended by itself (%s)" % (self.name, status_text(rc)))
            self.start()

    def kill_and_restart(self, downtime):
        self.check_alive()
        self.proc.kill()
        self.proc.wait()
        time.sleep(downtime)
        self.restarts.append(time.time())
        self.start()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            rc = self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
            self.failures.append("front %s did not stop within 10 s" % self.name)
        if rc != 0:
            self.failures.append("front %s ended with %s" % (self.name, status_text(rc)))


class Sampler:
    """Descriptor count and resident memory of one process over time."""

    def __init__(self, name, pid):
        self.name, self.pid, self.samples = name, pid, []
        self.died_at = None
        self.started_at = 0.0

    def restart(self, pid, t):
        """Samples of the new process only."""
        self.pid, self.samples, self.started_at = pid, [], t

    def sample(self, t):
        try:
            fds = len(os.listdir("/proc/%d/fd" % self.pid))
            with open("/proc/%d/status" % self.pid) as f:
                rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        except (OSError, StopIteration):
            return
        self.samples.append((t, fds, rss))

    def verdict(self, seconds):
        """(figures text, failure list)."""
        if self.died_at is not None:
            return ("%s: ended after %.0f s; descriptors and memory not judged"
                    % (self.name, self.died_at), [])
        if len(self.samples) < 6:
            return "%s: too few samples" % self.name, ["%s: too few samples" % self.name]
        middle = [s for s in self.samples if seconds / 3 <= s[0] < 2 * seconds / 3]
        last = [s for s in self.samples if s[0] >= 2 * seconds / 3]
        if not middle or not last:
            return "%s: too few samples" % self.name, ["%s: too few samples" % self.name]
        # The first sample taken once the program has loaded and started.
        first = next((s for s in self.samples if s[0] >= self.started_at + 1.0), self.samples[0])
        end = self.samples[-1]
        fd_mid, fd_last = max(s[1] for s in middle), max(s[1] for s in last)
        rss_mid, rss_last = max(s[2] for s in middle), max(s[2] for s in last)
        text = ("%s: descriptors %d at start, %d at end (peak %d in the middle third, %d in the "
                "last); resident memory %.1f MiB at start, %.1f MiB at end (peak %.1f MiB in the "
                "middle third, %.1f MiB in the last)"
                % (self.name, first[1], end[1], fd_mid, fd_last, first[2] / 1024, end[2] / 1024,
                   rss_mid / 1024, rss_last / 1024))
        failures = []
        if fd_last > fd_mid + FD_GROWTH:
            failures.append("%s: descriptors grew from %d to %d" % (self.name, fd_mid, fd_last))
        allowed = max(rss_mid * RSS_GROWTH_FRACTION, RSS_GROWTH_FLOOR_KIB)
        if rss_last > rss_mid + allowed:
            failures.append("%s: resident memory grew from %.1f MiB to %.1f MiB (allowed %.1f)"
                            % (self.name, rss_mid / 1024, rss_last / 1024, allowed / 1024))
        return text, failures


def sanitizer_reports(paths):
    """The first lines of every sanitizer report in the logs."""
    found = []
    for path in paths:
        if not os.path.exists(path):
            continue
        with open(path, errors="replace") as f:
            lines = f.readlines()
        for i, line in enumerate(lines):
            if SANITIZER.search(line):
                found.append("%s:\n    %s" % (os.path.basename(path),
                                             "    ".join(lines[i:i + 30])))
                break
    return found


def status_text(rc):
    return "killed by signal %d" % -rc if rc is not None and rc < 0 else "status %s" % rc


def wait_exit(proc, timeout):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def count_lines(path, pattern):
    counts = {}
    if os.path.exists(path):
        with open(path, errors="replace") as f:
            for line in f:
                m = re.search(pattern, line)
                if m:
                    counts[m.group(1)] = counts.get(m.group(1), 0) + 1
    return counts


def print_stacks(pid, out):
    if not shutil.which("gdb"):
        return
    try:
        subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt"],
                       stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=15)
    except subprocess.TimeoutExpired:
        out.write("soak: gdb gave no stacks within 15 s\n")


class Soak:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="xelmd_soak_")
        self.env = dict(os.environ, **ASAN_ENV)
        self.failures = []
        self.counters = fault_proxy.Counters()
        self.procs = []

    def binary(self, name):
        path = os.path.join(self.args.tree, "bin", name)
        if not os.access(path, os.X_OK):
            sys.exit("soak: %s is not built" % path)
        return path

    def start(self):
        a = self.args
        front = self.binary("xelmd-front")
        common = ["--trading-day", TRADING_DAY, "--instruments", str(INSTRUMENTS)]
        for name, text in (("r", recorder_scenario()), ("c", cycler_scenario())):
            with open(os.path.join(self.work, "scenario-%s.json" % name), "w") as f:
                f.write(text)
        ports = random.Random()  # not the seed: runs side by side need other ports
        self.front_r = Front("R", front, self.work, front_port(ports), common + [
            "--topics", ",".join(map(str, RECORDED_TOPICS)), "--rate", str(RATE), "--seed", "7",
            "--scenario", os.path.join(self.work, "scenario-r.json")], self.env)
        port_c = front_port(ports)
        while port_c == self.front_r.port:
            port_c = front_port(ports)
        self.front_c = Front("C", front, self.work, port_c, common + [
            "--topics", "100", "--rate", "20",
            "--scenario", os.path.join(self.work, "scenario-c.json")], self.env)
        for f in (self.front_r, self.front_c):
            if not f.start():
                sys.exit("soak: " + f.failures[-1])
        stall_s = HEARTBEAT_S + 2
        self.proxy_r = fault_proxy.FaultProxy(
            "recorder", self.front_r.port, a.seed, {"none": 15, "cut": 35, "one-byte": 12,
                                                    "delay": 15, "stall": 5, "garbage": 18},
            self.counters, stall_s, 60000)
        self.proxy_c = fault_proxy.FaultProxy(
            "cycler", self.front_c.port, a.seed + 1, {"none": 25, "cut": 30, "one-byte": 10,
                                                      "delay": 10, "stall": 5, "garbage": 20},
            self.counters, stall_s, 20000)
        # Bound, never listening: connections to it are refused.
        self.dead = socket.socket()
        self.dead.bind(("127.0.0.1", 0))

        self.rec_dir = os.path.join(self.work, "recorded")
        self.rec_log = os.path.join(self.work, "recorder.log")
        self.recorder_kills = []
        self.start_recorder()
        self.cyc_out = os.path.join(self.work, "cycler.out")
        self.cyc_err = os.path.join(self.work, "cycler.err")
        cmd = [a.cycler, "--front", "tcp://127.0.0.1:%d" % self.proxy_c.port, "--dead-front",
               "tcp://127.0.0.1:%d" % self.dead.getsockname()[1], "--dir",
               os.path.join(self.work, "cycler"), "--seconds", str(a.seconds), "--seed",
               str(a.seed), "--hang-seconds", "8"]
        if not a.release_in_callback:
            cmd.append("--no-release-in-callback")
        if not a.requests_during_release:
            cmd.append("--no-requests-during-release")
        with open(self.cyc_out, "w") as out, open(self.cyc_err, "w") as err:
            self.cycler = subprocess.Popen(cmd, stdout=out, stderr=err, env=self.env)
        self.samplers = [Sampler("recorder", self.recorder.pid), Sampler("cycler", self.cycler.pid)]

    def start_recorder(self):
        with open(self.rec_log, "a") as log:
            self.recorder = subprocess.Popen(
                [self.binary("xelmd-record"), "--dir", self.rec_dir, "--front",
                 "tcp://127.0.0.1:%d" % self.proxy_r.port, "--heartbeat", str(HEARTBEAT_S),
                 "--flush-ms", "100"] + sum((["--topic", str(t)] for t in RECORDED_TOPICS), []),
                stdout=log, stderr=subprocess.STDOUT, env=self.env)

    def kill_recorder(self, t):
        """SIGKILL in the middle of its writing; the new one resumes from its
        files. Early in the run, so the new one's warm-up ends before the
        middle third in which descriptors and memory are judged."""
        if self.recorder.poll() is not None:
            return
        self.recorder.kill()
        self.recorder.wait()
        self.recorder_kills.append(t)
        self.start_recorder()
        self.samplers[0].restart(self.recorder.pid, t)

    def kill_plan(self):
        """(time, action) for the run: the recorder killed once early, the
        cycler's front killed and restarted spread over the middle of the run.
        The recorder's front is never killed: a restarted simulator numbers
        its packets anew, and the recorder, whose rows must continue exactly,
        then stops by design (exit 1, with its message); its faults come
        through the proxy and its scenario."""
        rng = random.Random(self.args.seed + 2)
        s = self.args.seconds
        plan = [(s * rng.uniform(0.08, 0.16), lambda t: self.kill_recorder(t))]
        for front, n in ((self.front_c, max(2, s // 15)),):
            for i in range(n):
                at = s * (0.15 + 0.7 * (i + rng.uniform(0.2, 0.8)) / n)
                downtime = rng.uniform(0.3, 1.5)
                plan.append((at, lambda t, f=front, d=downtime: f.kill_and_restart(d)))
        return sorted(plan, key=lambda p: p[0])

    def run(self):
        """Faults and samples for the whole time, even when a client dies:
        the other one's checks still count."""
        start = time.monotonic()
        plan = self.kill_plan()
        while time.monotonic() - start < self.args.seconds:
            t = time.monotonic() - start
            for s, proc in zip(self.samplers, (self.recorder, self.cycler)):
                if proc.poll() is None:
                    s.sample(t)
                elif s.died_at is None:
                    s.died_at = t
            while plan and plan[0][0] <= t:
                plan.pop(0)[1](t)
            for f in (self.front_r, self.front_c):
                f.check_alive()
            time.sleep(SAMPLE_S)
        self.elapsed = time.monotonic() - start

    def stop(self):
        """Stops everything; failures for whatever did not end well."""
        self.recorder_early = self.recorder.poll() is not None
        if self.recorder_early:
            self.failures.append("the recorder ended after %.0f s with %s" % (
                self.samplers[0].died_at or 0, status_text(self.recorder.poll())))
        else:
            self.recorder.send_signal(signal.SIGTERM)
        # The cycler ends by itself: its last life, or its watchdog's report.
        rc = wait_exit(self.cycler, 20)
        if rc is None:
            with open(self.cyc_err, "a") as err:
                err.write("soak: the cycler did not end; its stacks:\n")
                err.flush()
                print_stacks(self.cycler.pid, err)
            self.cycler.kill()
            self.failures.append("the cycler did not end within 20 s of its time (stacks in "
                                 "cycler.err)")
        elif rc != 0:
            when = self.samplers[1].died_at
            self.failures.append("the cycler ended with %s%s" % (
                status_text(rc), "" if when is None else " after %.0f s" % when))
        rc = wait_exit(self.recorder, 10)
        if rc is None:
            with open(self.rec_log, "a") as log:
                print_stacks(self.recorder.pid, log)
            self.recorder.kill()
            self.failures.append("the recorder did not stop within 10 s of SIGTERM (stacks in "
                                 "recorder.log)")
        elif rc != 0 and not self.recorder_early:
            self.failures.append("the recorder ended with %s" % status_text(rc))
        for f in (self.front_r, self.front_c):
            f.stop()
            self.failures += f.failures
        self.proxy_r.stop()
        self.proxy_c.stop()
        self.dead.close()

    def cleanup(self):
        for p in (getattr(self, "recorder", None), getattr(self, "cycler", None)):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        for f in (getattr(self, "front_r", None), getattr(self, "front_c", None)):
            if f is not None and f.proc is not None and f.proc.poll() is None:
                f.proc.kill()
                f.proc.wait()

    def report(self):
        a, c = self.args, self.counters
        print("soak: %d s (ran %.0f s), seed %d, Release from callbacks %s, requests during "
              "Release %s, files in %s"
              % (a.seconds, self.elapsed, a.seed, "on" if a.release_in_callback else "off",
                 "on" if a.requests_during_release else "off", self.work))
        kinds = ", ".join("%s %d" % (k, c.get(k)) for k in fault_proxy.KINDS)
        print("soak: proxy faults: %s (total %d)" % (kinds, sum(c.get(k) for k in
                                                                fault_proxy.KINDS)))
        print("soak: proxy connections: recorder %d, cycler %d; refused while a front was down: "
              "%d" % (c.get("recorder connections"), c.get("cycler connections"),
                      c.get("recorder connections refused upstream")
                      + c.get("cycler connections refused upstream")))
        for f in (self.front_r, self.front_c):
            scripted = count_lines(f.log, r"\] fault: (\w+)")
            for name, pattern in (("key_refused", r"key exchange refused \((scripted)\)"),
                                  ("key_error", r"key exchange: (unusable)")):
                n = sum(count_lines(f.log, pattern).values())
                if n:
                    scripted[name] = n
            print("soak: front %s: restarts %d; scripted faults: %s" % (
                f.name, len(f.restarts),
                ", ".join("%s %d" % kv for kv in sorted(scripted.items())) or "none"))
        reasons = count_lines(self.rec_log, r"disconnected \(reason (-?\d+)[ )]")
        print("soak: recorder: reconnects %d (disconnections by reason: %s)" % (
            max(0, c.get("recorder connections") - 1),
            ", ".join("%s x%d" % kv for kv in sorted(reasons.items())) or "none"))
        resumed = count_lines(self.rec_log, r"(topic \d+ continues after packet \d+)")
        cut = count_lines(self.rec_log, r"cut (\d+) bytes of unfinished rows")
        print("soak: recorder: killed (SIGKILL) and restarted %d time(s) at %s s; it cut %s "
              "bytes of unfinished rows; %s" % (
                  len(self.recorder_kills), ", ".join("%.0f" % t for t in self.recorder_kills),
                  "+".join(cut) or "no", "; ".join(sorted(resumed)) or "no topic resumed"))

        rows, topics = recorded_rows.check(self.rec_dir, RECORDED_TOPICS,
                                           self.front_r.restarts, RATE, INSTRUMENTS)
        for t in topics:
            last = t.rows[-1][0] if t.rows else 0
            print("soak: topic %d: %d packets checked, last %d, %d renumbering(s) at front "
                  "restarts" % (t.topic, len(t.rows), last, t.resets))
            self.failures += t.failures
        print("soak: packets checked: %d" % rows)
        least = 0.25 * RATE * len(RECORDED_TOPICS) * self.elapsed
        if rows < least and not self.recorder_early:
            self.failures.append("the recorder kept only %d packets (expected at least %d)"
                                 % (rows, least))

        figures = {}
        if os.path.exists(self.cyc_out):
            with open(self.cyc_out) as f:
                for line in f:
                    if line.startswith("api_cycler figures:"):
                        figures = dict(kv.split("=") for kv in line.split(":", 1)[1].split())
                    elif line.startswith("api_cycler:"):
                        print("soak: " + line.rstrip()[len("api_cycler: "):])
        print("soak: API cycles: %s (Release from callbacks %s)" % (
            figures.get("lives", "?"), figures.get("released_in_callback", "?")))
        if figures and int(figures["lives"]) < 5:
            self.failures.append("the cycler completed only %s lives" % figures["lives"])
        if figures and int(figures["logins"]) < 1:
            self.failures.append("no cycler life ever logged in")

        print("soak: flat means: after the first third, the peak of the last third exceeds the "
              "peak of the middle third by at most %d descriptors and by at most %d%% or %d MiB "
              "of resident memory (whichever is larger)"
              % (FD_GROWTH, RSS_GROWTH_FRACTION * 100, RSS_GROWTH_FLOOR_KIB // 1024))
        for s in self.samplers:
            text, failures = s.verdict(self.elapsed)
            print("soak: " + text)
            self.failures += failures

        logs = [self.rec_log, self.cyc_err, self.front_r.log, self.front_c.log]
        for report in sanitizer_reports(logs):
            self.failures.append("sanitizer report in " + report)
        hang = count_lines(self.cyc_err, r"(api_cycler: HANG.*)")
        for line in hang:
            self.failures.append(line + " (stacks in cycler.err)")

        if self.failures:
            print("soak: FAILED")
            for f in self.failures:
                print("soak: failed: " + f)
            print("soak: logs kept in " + self.work)
            return 1
        print("soak: passed")
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        return 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--tree", required=True, help="build tree with bin/xelmd-front, xelmd-record")
    p.add_argument("--cycler", required=True, help="the api_cycler program")
    p.add_argument("--seconds", type=int, default=60)
    p.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    p.add_argument("--no-release-in-callback", dest="release_in_callback",
                   action="store_false", help="never call Release from inside a callback")
    p.add_argument("--no-requests-during-release", dest="requests_during_release",
                   action="store_false",
                   help="stop the request threads before Release instead of racing it")
    p.add_argument("--keep", action="store_true", help="keep the scratch directory")
    args = p.parse_args()
    if args.seconds < 10:
        sys.exit("soak: --seconds must be at least 10")
    # A stopped run (CI timeout, kill) still stops its processes.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    soak = Soak(args)
    try:
        soak.start()
        soak.run()
        soak.stop()
        return soak.report()
    finally:
        soak.cleanup()


if __name__ == "__main__":
    sys.exit(main())
