"""xelmd-bridge between a real xelmd-front and real nats-server processes:
the stream must hold every update the front sent exactly once, in order,
across kills of the bridge and of servers."""
import json
import os
import random
import shutil
import signal
import struct
import time
import urllib.request

import pytest

from harness import (BIN, SLOW, Client, Front, NatsServer, Process, bridge, cluster, free_port,
                     record, wait_for, workdir)


@pytest.fixture
def work():
    path, procs = workdir(), []
    yield path, procs
    for p in procs:
        p.kill()
    if not os.environ.get("XELMD_TEST_KEEP"):  # keeps the logs and data for a look
        shutil.rmtree(path, ignore_errors=True)


def commit_seq(port, topic, stream="XELMD", prefix="xelmd.md"):
    try:
        with Client(port) as c:
            m = c.last_by_subject(stream, "%s.commit.%d" % (prefix, topic))
    except (OSError, TypeError):
        return 0
    if m is None:
        return 0
    assert m["headers"]["Nats-Msg-Id"] == "%d:%s:commit" % (topic, m["headers"]["Xelmd-Seq"])
    body, h = json.loads(m["data"]), m["headers"]
    assert body == {"Topic": str(topic), "SequenceNo": h["Xelmd-Seq"], "First": h["Xelmd-First"]}
    assert 0 < int(body["First"]) <= int(body["SequenceNo"]) + 1
    return int(body["SequenceNo"])


def wait_commit(port, topic, at_least, seconds=60, bridge=None):
    def check():
        # A bridge that exited will commit nothing more: say why at once.
        assert bridge is None or bridge.alive(), bridge.output()
        c = commit_seq(port, topic)
        return c >= at_least and c
    return wait_for(check, seconds, "topic %d committed through packet %d" % (topic, at_least))


def check_stream(port, topic, front, work):
    """Every (seq, index) of the topic exactly once and in order, from packet
    1 through the last one stored, equal to a recording of the same front."""
    with Client(port) as c:
        msgs = c.messages("XELMD")
    data = [m for m in msgs if m["subject"].startswith("xelmd.md.%d." % topic)]
    keys = []
    for m in data:
        h = m["headers"]
        key = (int(h["Xelmd-Seq"]), int(h["Xelmd-Index"]))
        assert h["Nats-Msg-Id"] == "%d:%d:%d" % (topic, *key) and h["Xelmd-Topic"] == str(topic)
        keys.append(key)
    assert len(set(keys)) == len(keys), "an update stored twice"
    assert keys == sorted(keys), "updates stored out of order: %s" % [
        (m["seq"], k) for m, k, n in zip(data, keys, sorted(keys)) if k != n][:8]
    last = keys[-1][0]
    expected = record(work, front, topic, last)
    assert keys == [(s, i) for s, i, _ in expected], "the stream differs from what the front sent"
    differ = []
    for m, (seq, _, line) in zip(data, expected):
        instrument = json.loads(line)["InstrumentID"]
        assert m["subject"] == "xelmd.md.%d.%s" % (topic, instrument)
        if m["data"].decode() != line:
            differ.append(seq)
    commit = commit_seq(port, topic)
    assert 0 < commit <= last
    # A payload is the recorder's line for the same packet whatever the
    # bridge went through, so consumers never see a record depend on when it
    # restarted.
    assert not differ, "%d of %d payloads differ from the recorder's lines, from packet %d" % (
        len(differ), len(data), differ[0])
    return last, commit


def test_sigkill_at_random_moments_and_a_server_restart(work):
    path, procs = work
    nats = NatsServer(path)
    front = Front(path, "--rate", "300", "--instruments", "8", "--quiet")
    procs += [nats, front]
    time.sleep(1)  # a backlog to replay from the beginning
    seed = int(os.environ.get("XELMD_TEST_SEED", time.time()))
    rng = random.Random(seed)
    print("seed", seed)
    for i in range(22):
        b = bridge(path, front, [nats.url], "--topic", "100:beginning")
        procs.append(b)
        time.sleep(rng.uniform(0.05, 0.8) * SLOW)
        if i == 11:
            nats.stop()  # a clean stop: a single node's acknowledged data is on disk
            time.sleep(rng.uniform(0.2, 1.0))
            nats.restart()
            wait_commit(nats.port, 100, commit_seq(nats.port, 100) + 100, bridge=b)
        assert b.alive(), b.output()
        b.kill()
    b = bridge(path, front, [nats.url], "--topic", "100:beginning")
    procs.append(b)
    wait_commit(nats.port, 100, commit_seq(nats.port, 100) + 300, bridge=b)
    assert b.stop() == 0, b.output()
    last, commit = check_stream(nats.port, 100, front, path)
    assert commit == last, "SIGTERM left packets without their commit point"


def test_nats_restarts_before_the_first_publish(work):
    path, procs = work
    nats = NatsServer(path)
    procs.append(nats)
    listen = "127.0.0.1:%d" % free_port()
    # No front yet: the bridge has connected to NATS but published nothing.
    b = Process([BIN["xelmd-bridge"], "--front", "tcp://" + listen, "--state-dir",
                 os.path.join(path, "state"), "--nats", nats.url], path, "bridge")
    procs.append(b)
    wait_for(lambda: stream_ready(nats.port), 10, "the bridge to create its stream")
    nats.stop()
    time.sleep(0.5)
    nats.restart()
    time.sleep(1)
    assert b.alive(), b.output()
    front = Front(path, "--rate", "300", "--instruments", "4", "--quiet", listen=listen)
    procs.append(front)
    wait_commit(nats.port, 100, 300, bridge=b)
    assert b.stop() == 0, b.output()
    last, commit = check_stream(nats.port, 100, front, path)
    assert commit == last


def stream_ready(port):
    try:
        with Client(port) as c:
            info = c.stream_info("XELMD")
            return info is not None and "config" in info
    except OSError:
        return False


def test_a_cluster_node_killed_mid_stream(work):
    path, procs = work
    nodes = cluster(path)
    front = Front(path, "--rate", "300", "--instruments", "4", "--quiet")
    procs += nodes + [front]
    b = bridge(path, front, [n.url for n in nodes], "--replicas", "3")
    procs.append(b)
    first = wait_commit(nodes[0].port, 100, 150, bridge=b)
    with Client(nodes[0].port) as c:
        info = c.stream_info("XELMD")
    assert info["config"]["num_replicas"] == 3
    leader = next(n for n in nodes if n.args[n.args.index("--server_name") + 1] ==
                  info["cluster"]["leader"])
    leader.kill()
    alive = [n for n in nodes if n is not leader][0]
    wait_commit(alive.port, 100, first + 600, bridge=b)
    assert b.stop() == 0, b.output()
    last, commit = check_stream(alive.port, 100, front, path)
    assert commit == last


def front_logins(front):
    return front.output().count("logged in")


def front_away(front):
    """Every connection that logged in is closed."""
    out = front.output()
    return out.count("closed (reason") >= out.count("logged in") > 0


def away_and_staying(front):
    """The front's login count once the bridge has left it and not come back
    for two seconds; None when it came back."""
    wait_for(lambda: front_away(front), 20, "the bridge to leave the front")
    logins = front_logins(front)
    time.sleep(2)
    return logins if front_logins(front) == logins and front_away(front) else None


def test_nats_away_longer_than_the_buffer_then_sigterm_drains(work):
    path, procs = work
    nats = NatsServer(path)
    front = Front(path, "--rate", "300", "--instruments", "4")
    procs += [nats, front]
    metrics = free_port()
    b = bridge(path, front, [nats.url], "--buffer", "300", "--metrics",
               "127.0.0.1:%d" % metrics)
    procs.append(b)
    before = wait_commit(nats.port, 100, 100, bridge=b)
    nats.stop()
    # 300 updates fill in about a second (a smaller buffer, with the front's
    # replay at each return, may not keep up with the feed on a loaded
    # machine); the bridge must then leave the front and stay away. On a
    # slow machine it may have left while NATS was up, to catch up, and be
    # on its way back: it then leaves once more.
    logins = away_and_staying(front)
    if logins is None:
        logins = away_and_staying(front)
    assert b.alive(), b.output()
    assert logins is not None, "the bridge came back while NATS was away"
    nats.restart()
    wait_for(lambda: front_logins(front) > logins, 30, "the bridge to log in again")
    wait_commit(nats.port, 100, before + 900, bridge=b)
    page = urllib.request.urlopen("http://127.0.0.1:%d/metrics" % metrics, timeout=5).read()
    assert b"# TYPE" in page
    # Stopped while catching up: every publish still pending is drained first.
    assert b.stop() == 0, b.output()
    last, commit = check_stream(nats.port, 100, front, path)
    assert commit == last, "SIGTERM left packets without their commit point"


# Instrument ids NATS subjects cannot carry as they are, and their subject
# tokens, written by hand.
AWKWARD = {"IF2501.C": "IF2501%2EC", "a b": "a%20b", "x*y>z": "x%2Ay%3Ez", "100%": "100%25",
           "$SYS": "%24SYS", "\u00e91": "%C3%A91", "ok_-9": "ok_-9"}


def test_awkward_ids_and_the_binary_payload(work):
    path, procs = work
    csv = os.path.join(path, "awkward.csv")
    with open(csv, "w", encoding="utf-8") as f:
        f.write("InstrumentID,LastPrice,Volume,BidPrice1,BidVolume1,AskPrice1,AskVolume1\n")
        for n, name in enumerate(AWKWARD):
            f.write("%s,%d.5,%d,%d.25,%d,%d.75,%d\n" % (name, 100 + n, n, 99 + n, 10 + n,
                                                        100 + n, 20 + n))
    nats = NatsServer(path)
    front = Front(path, "--replay", csv, "--rate", "100", "--quiet")
    procs += [nats, front]
    started = time.time_ns()
    b = bridge(path, front, [nats.url], "--format", "binary")
    procs.append(b)
    wait_commit(nats.port, 100, 3 * len(AWKWARD), bridge=b)
    assert b.stop() == 0, b.output()
    ended = time.time_ns()
    with Client(nats.port) as c:
        data = [m for m in c.messages("XELMD") if m["subject"].startswith("xelmd.md.100.")]
    assert len(data) >= 3 * len(AWKWARD)
    names = list(AWKWARD)
    for m in data:
        magic, version, hlen, rlen, topic, index, seq, at = struct.unpack_from("<2sBBIiIqq",
                                                                               m["data"])
        assert (magic, version, hlen, rlen, topic) == (b"XB", 1, 32, 368, 100)
        assert len(m["data"]) == hlen + rlen
        h = m["headers"]
        assert (str(index), str(seq)) == (h["Xelmd-Index"], h["Xelmd-Seq"])
        assert started <= at <= ended
        rec = m["data"][hlen:]
        instrument = rec[168:199].split(b"\0")[0].decode()
        n = names.index(instrument)  # the replay loops through the file in order
        assert n == (seq - 1) % len(names) and m["subject"] == "xelmd.md.100." + AWKWARD[instrument]
        assert struct.unpack_from("<d", rec, 24)[0] == 100 + n + 0.5        # LastPrice
        assert struct.unpack_from("<i", rec, 80)[0] == n                    # Volume
        assert struct.unpack_from("<di", rec, 200) == (99 + n + 0.25, 10 + n)   # bid 1
        assert struct.unpack_from("<di", rec, 216) == (100 + n + 0.75, 20 + n)  # ask 1
