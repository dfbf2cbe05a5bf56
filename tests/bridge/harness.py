"""Real processes for the bridge's tests: nats-server (single node or a
three-node cluster) with JetStream in temporary directories, xelmd-front,
xelmd-record and xelmd-bridge on free loopback ports, and a small NATS
client that reads a stream back message by message."""
import base64
import json
import os
import signal
import socket
import subprocess
import tempfile
import time

BIN = {name: os.environ.get(var, name) for name, var in [
    ("xelmd-front", "XELMD_FRONT_BIN"), ("xelmd-record", "XELMD_RECORD_BIN"),
    ("xelmd-bridge", "XELMD_BRIDGE_BIN"), ("nats-server", "NATS_SERVER_BIN")]}
# Sanitizer trees run slower; every wait scales with this.
SLOW = float(os.environ.get("XELMD_TEST_SLOW", "1"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(check, seconds, what):
    deadline = time.monotonic() + seconds * SLOW
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Process:
    """A child whose output goes to a log file in `workdir`."""

    def __init__(self, args, workdir, name):
        self.args, self.log_path = args, os.path.join(workdir, name + ".log")
        self.start()

    def start(self):
        self.log = open(self.log_path, "a")
        self.proc = subprocess.Popen(self.args, stdout=self.log, stderr=subprocess.STDOUT)

    def alive(self):
        return self.proc.poll() is None

    def kill(self):
        if self.alive():
            self.proc.kill()
        self.proc.wait()

    def stop(self, sig=signal.SIGTERM, seconds=30):
        if self.alive():
            self.proc.send_signal(sig)
        return self.proc.wait(seconds * SLOW)

    def output(self):
        self.log.flush()
        return open(self.log_path, errors="replace").read()


class NatsServer(Process):
    """One node; `routes` (with `cluster_port`) joins it to a cluster."""

    def __init__(self, workdir, name="n1", cluster_port=None, routes=(), wait=True):
        self.port, self.http = free_port(), free_port()
        self.url = "nats://127.0.0.1:%d" % self.port
        args = [BIN["nats-server"], "-a", "127.0.0.1", "-p", str(self.port),
                "-m", str(self.http), "-js", "-sd", os.path.join(workdir, name),
                "--server_name", name]
        if cluster_port:
            args += ["--cluster_name", "xelmd", "--cluster",
                     "nats://127.0.0.1:%d" % cluster_port,
                     "--routes", ",".join("nats://127.0.0.1:%d" % r for r in routes)]
        super().__init__(args, workdir, "nats-" + name)
        if wait:
            self.wait_ready()

    def wait_ready(self):
        wait_for(lambda: js_ready(self.port), 30, "JetStream on port %d" % self.port)

    def restart(self):
        self.start()
        self.wait_ready()


def js_ready(port):
    """JetStream answers account requests (in a cluster: once it has a meta leader)."""
    try:
        with Client(port, timeout=1) as c:
            info = c.request("$JS.API.INFO", b"")
            return info is not None and b'"error"' not in info[1]
    except OSError:
        return False


def cluster(workdir, size=3):
    routes = [free_port() for _ in range(size)]
    # The nodes start together; none is ready before a quorum meets.
    servers = [NatsServer(workdir, "n%d" % (i + 1), routes[i],
                          [r for j, r in enumerate(routes) if j != i], wait=False)
               for i in range(size)]
    for s in servers:
        s.wait_ready()
    return servers


class Front(Process):
    def __init__(self, workdir, *args, listen="127.0.0.1:0"):
        ports = os.path.join(workdir, "front.ports")
        if os.path.exists(ports):
            os.remove(ports)  # an earlier front's
        super().__init__([BIN["xelmd-front"], "--listen", listen, "--port-file", ports,
                          "--keep", "0", *args], workdir, "front")
        port = wait_for(lambda: os.path.exists(ports) and open(ports).read().split(), 10,
                        "the front's port")[0]
        self.address = "tcp://127.0.0.1:" + port


def bridge(workdir, front, nats_urls, *args, name="bridge"):
    cmd = [BIN["xelmd-bridge"], "--front", front.address, "--state-dir",
           os.path.join(workdir, "state")]
    for url in nats_urls:
        cmd += ["--nats", url]
    return Process(cmd + list(args), workdir, name)


def record(workdir, front, topic, last_seq):
    """The front's packets from the beginning through `last_seq`, as xelmd-record
    writes them: [(seq, index, json_text)]."""
    out = os.path.join(workdir, "rec")
    rec = Process([BIN["xelmd-record"], "--dir", out, "--front", front.address, "--topic",
                   "%d:beginning" % topic, "--format", "json", "--flush-ms", "20"],
                  workdir, "record")

    def rows():
        lines = []
        for f in sorted(os.listdir(out)) if os.path.isdir(out) else []:
            if f.startswith("%d-" % topic) and f.endswith(".jsonl"):
                lines += open(os.path.join(out, f)).read().split("\n")[:-1]
        return lines
    wait_for(lambda: (r := rows()) and int(json.loads(r[-1])["SequenceNo"]) > last_seq, 120,
             "the recording to reach packet %d" % last_seq)
    assert rec.stop() == 0
    result, index, prev = [], 0, None
    for line in rows():
        seq = int(json.loads(line)["SequenceNo"])
        index = index + 1 if seq == prev else 0
        prev = seq
        if seq <= last_seq:
            result.append((seq, index, line))
    return result


class Client:
    """Just enough of the NATS text protocol for requests (headers included)."""

    def __init__(self, port, timeout=5):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buf, self.next_sid = b"", 1
        self._line()  # INFO
        self.sock.sendall(b'CONNECT {"verbose":false,"pedantic":false,"headers":true,'
                          b'"no_responders":true,"protocol":1}\r\nPING\r\n')
        while self._line() != b"PONG":
            pass
        self.sock.sendall(b"SUB _r.> 1\r\n")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.sock.close()

    def _fill(self):
        data = self.sock.recv(1 << 20)
        if not data:
            raise OSError("connection closed")
        self.buf += data

    def _line(self):
        while b"\r\n" not in self.buf:
            self._fill()
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line

    def _take(self, n):
        while len(self.buf) < n + 2:
            self._fill()
        data, self.buf = self.buf[:n], self.buf[n + 2:]
        return data

    def next_msg(self):
        """(subject, headers bytes, payload) of the next MSG/HMSG; PINGs answered."""
        while True:
            parts = self._line().split()
            if parts[0] == b"PING":
                self.sock.sendall(b"PONG\r\n")
            elif parts[0] == b"MSG":
                return parts[1].decode(), b"", self._take(int(parts[-1]))
            elif parts[0] == b"HMSG":
                hlen, total = int(parts[-2]), int(parts[-1])
                body = self._take(total)
                return parts[1].decode(), body[:hlen], body[hlen:]
            elif parts[0] == b"-ERR":
                raise OSError(parts)

    def publish_requests(self, items):
        """Sends (subject, payload) requests, replies to _r.<n>."""
        out = b"".join(b"PUB %s _r.%d %d\r\n%s\r\n" % (s.encode(), i, len(p), p)
                       for i, (s, p) in enumerate(items))
        self.sock.sendall(out)

    def request(self, subject, payload):
        """(headers, payload) of the answer, None on no responders."""
        self.publish_requests([(subject, payload)])
        _, hdr, data = self.next_msg()
        if hdr.startswith(b"NATS/1.0 503"):
            return None
        return hdr, data

    def stream_info(self, stream):
        answer = self.request("$JS.API.STREAM.INFO." + stream, b"")
        return json.loads(answer[1]) if answer else None

    def last_by_subject(self, stream, subject):
        answer = self.request("$JS.API.STREAM.MSG.GET." + stream,
                              json.dumps({"last_by_subj": subject}).encode())
        return parse_stored(json.loads(answer[1]))

    def messages(self, stream, batch=500):
        """Every message the stream holds, in stream order: dicts with subject,
        seq, headers (a dict) and data (bytes)."""
        state = self.stream_info(stream)["state"]
        first, last = state["first_seq"], state["last_seq"]
        result = []
        for start in range(first, last + 1, batch):
            seqs = range(start, min(start + batch, last + 1))
            self.publish_requests([("$JS.API.STREAM.MSG.GET." + stream,
                                    json.dumps({"seq": s}).encode()) for s in seqs])
            answers = {}
            for _ in seqs:
                subject, _, data = self.next_msg()
                answers[int(subject[3:])] = json.loads(data)
            result += [parse_stored(answers[i]) for i in range(len(seqs))]
        return [m for m in result if m is not None]


def parse_stored(answer):
    if "error" in answer:
        return None
    m = answer["message"]
    headers = {}
    for line in base64.b64decode(m.get("hdrs", "")).decode().split("\r\n")[1:]:
        if ":" in line:
            k, v = line.split(":", 1)
            headers[k.strip()] = v.strip()
    return {"subject": m["subject"], "seq": m["seq"], "headers": headers,
            "data": base64.b64decode(m.get("data", ""))}


def workdir():
    return tempfile.mkdtemp(prefix="xelmd_bridge_")
