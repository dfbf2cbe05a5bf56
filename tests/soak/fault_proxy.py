"""A TCP proxy on loopback that hurts the connections it carries.

Every accepted connection is relayed to a front and gets one fault plan,
drawn from a seeded random generator:

  cut       both sockets closed after a random number of bytes in one
            direction (from 1 byte, inside the key exchange, to tens of KB)
  one-byte  for a window of seconds every byte goes in its own send()
  delay     for a window of seconds every chunk waits 10-250 ms
  stall     nothing moves either way for longer than the heartbeat timeout
  garbage   a burst of random bytes dropped into one direction
  none      relayed untouched

A fault counts once it has actually been applied. Threads: one accepting
thread per proxy and two relaying threads per connection, all bounded by
socket timeouts and stopped by stop().
"""

import math
import random
import select
import socket
import threading
import time

KINDS = ("cut", "one-byte", "delay", "stall", "garbage")
DOWN, UP = 0, 1  # front -> client, client -> front
POLL_S = 0.05
SEND_TIMEOUT_S = 5.0


class Counters:
    """Shared, locked tallies: faults by kind and connection events."""

    def __init__(self):
        self._lock = threading.Lock()
        self.values = {}

    def add(self, name, n=1):
        with self._lock:
            self.values[name] = self.values.get(name, 0) + n

    def get(self, name):
        with self._lock:
            return self.values.get(name, 0)


def log_uniform(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high))))


class Plan:
    """What happens to one connection; times are seconds after accept."""

    def __init__(self, rng, weights, stall_s, cut_bytes):
        self.kind = rng.choices(list(weights), list(weights.values()))[0]
        self.direction = DOWN if rng.random() < 0.75 else UP
        # Early enough that short connections meet it, the key exchange
        # and the login included.
        self.at = rng.uniform(0.0, 1.5)
        self.until = self.at + rng.uniform(1.5, 4.0)
        # A third of the cuts land in the key exchange and the login, the
        # rest in the data that follows.
        if self.direction == UP:
            self.cut_at = log_uniform(rng, 1, 3000)
        elif rng.random() < 0.3:
            self.cut_at = log_uniform(rng, 1, 2000)
        else:
            self.cut_at = rng.randint(2000, max(2000, cut_bytes))
        self.stall_s = stall_s
        self.garbage = bytes(rng.getrandbits(8) for _ in range(log_uniform(rng, 1, 512)))
        self.delay_rng = random.Random(rng.getrandbits(32))


class Relay:
    def __init__(self, proxy, client, upstream, plan):
        self.proxy = proxy
        self.sockets = (client, upstream)
        self.plan = plan
        self.started = time.monotonic()
        self.sent = [0, 0]
        self.applied = False
        self.stall_until = 0.0
        self.closed = threading.Event()
        self.lock = threading.Lock()

    def close(self):
        with self.lock:
            if self.closed.is_set():
                return
            self.closed.set()
        for s in self.sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def count(self, kind):
        with self.lock:
            if self.applied:
                return
            self.applied = True
        self.proxy.counters.add(kind)

    def in_window(self, kind, now):
        p = self.plan
        return p.kind == kind and p.at <= now - self.started < p.until

    def pump(self, direction):
        """Relays one direction until either side closes or the proxy stops."""
        src = self.sockets[1] if direction == DOWN else self.sockets[0]
        dst = self.sockets[0] if direction == DOWN else self.sockets[1]
        try:
            while not self.closed.is_set() and self.proxy.running:
                if self.timed_faults(direction, dst):
                    continue
                ready, _, _ = select.select([src], [], [], POLL_S)
                if not ready:
                    continue
                data = src.recv(16384)
                if not data:
                    break
                self.forward(direction, data, dst)
        except (OSError, ValueError):  # ValueError: the other pump closed the sockets
            pass
        self.close()

    def timed_faults(self, direction, dst):
        """Stall and garbage, due by time; True while stalled."""
        p = self.plan
        now = time.monotonic()
        if p.kind == "stall" and not self.applied and now - self.started >= p.at:
            self.stall_until = now + p.stall_s
            self.count("stall")
        if now < self.stall_until:
            time.sleep(POLL_S)
            return True
        if (p.kind == "garbage" and direction == p.direction and not self.applied
                and now - self.started >= p.at):
            self.count("garbage")
            dst.sendall(p.garbage)
        return False

    def forward(self, direction, data, dst):
        p = self.plan
        now = time.monotonic()
        if p.kind == "cut" and direction == p.direction:
            left = p.cut_at - self.sent[direction]
            if len(data) >= left:
                dst.sendall(data[:left])
                self.count("cut")
                self.close()
                return
        if self.in_window("one-byte", now):
            self.count("one-byte")
            for i in range(len(data)):
                dst.sendall(data[i:i + 1])
        else:
            if self.in_window("delay", now):
                self.count("delay")
                time.sleep(p.delay_rng.uniform(0.01, 0.25))
            dst.sendall(data)
        self.sent[direction] += len(data)


class FaultProxy:
    """Listens on a free loopback port and relays to 127.0.0.1:upstream_port."""

    def __init__(self, name, upstream_port, seed, weights, counters, stall_s, cut_bytes):
        self.name = name
        self.upstream_port = upstream_port
        self.rng = random.Random(seed)
        # The first connections meet every kind once, the rest draw by weight.
        self.deck = list(KINDS)
        self.rng.shuffle(self.deck)
        self.weights = weights
        self.counters = counters
        self.stall_s = stall_s
        self.cut_bytes = cut_bytes
        self.running = True
        self.relays = []
        self.threads = []
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.acceptor = threading.Thread(target=self.accept_loop, daemon=True)
        self.acceptor.start()

    def accept_loop(self):
        while self.running:
            try:
                client, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            self.counters.add(self.name + " connections")
            self.start_relay(client)
            self.threads = [t for t in self.threads if t.is_alive()]
            self.relays = [r for r in self.relays if not r.closed.is_set()]

    def start_relay(self, client):
        try:
            upstream = socket.create_connection(("127.0.0.1", self.upstream_port), timeout=2)
        except OSError:
            # The front is down (killed, restarting): the client sees a close.
            self.counters.add(self.name + " connections refused upstream")
            client.close()
            return
        for s in (client, upstream):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            s.settimeout(SEND_TIMEOUT_S)
        plan = Plan(self.rng, self.weights, self.stall_s, self.cut_bytes)
        if self.deck:
            plan.kind = self.deck.pop()
        relay = Relay(self, client, upstream, plan)
        self.relays.append(relay)
        for direction in (DOWN, UP):
            t = threading.Thread(target=relay.pump, args=(direction,), daemon=True)
            t.start()
            self.threads.append(t)

    def stop(self):
        self.running = False
        self.acceptor.join(timeout=2)
        self.listener.close()
        for r in list(self.relays):
            r.close()
        for t in list(self.threads):
            t.join(timeout=2)
