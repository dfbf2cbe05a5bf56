import asyncio
import math
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import xelmd
from xelmd import _xelmd


def test_a_front_that_never_answers_gives_the_builtin_timeout_error():
    import socket
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(4)
        address = "tcp://127.0.0.1:%d" % silent.getsockname()[1]
        with pytest.raises(TimeoutError):
            with xelmd.Feed(fronts=[address], topics=[(100, "now")], login_timeout=0.5):
                pass


def test_login_accepted_and_values_equal_what_the_front_sent(replay_front):
    with xelmd.Feed(fronts=[replay_front.address], user="demo", password="demo",
                    topics=[(100, "beginning")]) as feed:
        batch = np.concatenate([feed.read_batch(100, 2.0) for _ in range(3)])
        update = feed.next(5.0)
    assert len(batch) >= 2
    first = batch[batch["InstrumentID"] == b"XA2509"][0]
    assert (first["LastPrice"], first["Volume"], first["BidPrice1"], first["BidVolume1"],
            first["AskPrice1"], first["AskVolume1"]) == (3500.5, 12, 3500, 3, 3501, 4)
    assert first["UpdateTime"] == b"09:30:00" and first["Topic"] == 100
    xb = batch[batch["InstrumentID"] == b"XB2509"][0]
    assert math.isnan(xb["LastPrice"]) and xb["BidPrice1"] == 10.25
    assert np.all(np.diff(batch["SequenceNo"]) > 0)
    assert update.topic == 100 and update.sequence > batch["SequenceNo"][-1]
    assert update.record.InstrumentID in ("XA2509", "XB2509")
    if update.record.InstrumentID == "XB2509":
        assert update.record.LastPrice is None and update.record.Volume == 7


@pytest.mark.parametrize("user,password,error_id", [("demo", "wrong", 3), ("nobody", "x", 2)])
def test_login_refused_raises_the_fronts_error(replay_front, user, password, error_id):
    feed = xelmd.Feed(fronts=[replay_front.address], user=user, password=password)
    with pytest.raises(xelmd.LoginError) as refused:
        with feed:
            pass
    assert refused.value.error_id == error_id and refused.value.error_msg


def test_dtype_offsets_equal_the_compiled_layout():
    layout = _xelmd.depth_layout()
    dtype = xelmd.depth_dtype()
    assert dtype.itemsize == layout["itemsize"] == _xelmd.DEPTH_RECORD_SIZE + 8
    for name, offset in zip(layout["names"], layout["offsets"]):
        assert dtype.fields[name][1] == offset
    assert dtype.fields["ActionDay"][1] + 9 <= _xelmd.DEPTH_RECORD_SIZE


def test_a_full_queue_stops_the_feed_and_says_where(start_front):
    front = start_front("--rate", "2000", "--instruments", "8")
    with xelmd.Feed(fronts=[front.address], topics=[(100, "beginning")], capacity=16) as feed:
        time.sleep(1.0)  # Python falls behind
        rows = []
        with pytest.raises(xelmd.FeedOverflow) as full:
            while True:
                rows.extend(feed.read_batch(5, 2.0)["SequenceNo"])
    assert len(rows) == 16 and full.value.topic == 100 and full.value.sequence >= rows[-1]


def test_a_scripted_fault_reaches_python_and_the_feed_reconnects(start_front, tmp_path):
    faults = tmp_path / "faults.json"
    faults.write_text('{"faults": [{"action": "bad_sequence", "after": 0.3}]}')
    front = start_front("--scenario", str(faults), "--rate", "100")
    with xelmd.Feed(fronts=[front.address], topics=[(100, "now")]) as feed:
        deadline = time.monotonic() + 20
        while feed.disconnects == 0 and time.monotonic() < deadline:
            feed.read_batch(1000, 0.1)
        assert feed.last_reason == 0x2005
        assert xelmd.reason_text(feed.last_reason)[0] == "sequence gap"
        assert len(feed.read_batch(1000, 15.0)) > 0  # data again, after a new login


INTERRUPTED = """
import sys, xelmd
feed = xelmd.Feed(fronts=[sys.argv[1]], topics=[(100, "now")]).start()
print("waiting", flush=True)
try:
    for update in feed:
        pass
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def test_sigint_interrupts_a_waiting_iteration(start_front, tmp_path):
    front = start_front("--rate", "0")  # nothing to wait for but the signal
    script = tmp_path / "wait.py"
    script.write_text(INTERRUPTED)
    proc = subprocess.Popen([sys.executable, str(script), front.address],
                            stdout=subprocess.PIPE, env=os.environ)
    assert proc.stdout.readline() == b"waiting\n"
    time.sleep(0.3)
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    assert proc.stdout.readline() == b"interrupted\n"
    assert time.monotonic() - sent < 1.0
    assert proc.wait(5) == 0


def test_async_iteration_and_batches(replay_front):
    async def consume(feed):
        updates = []
        async for update in feed:
            updates.append(update)
            if len(updates) == 3:
                break
        async for batch in feed.batches(100):
            return updates, batch

    with xelmd.Feed(fronts=[replay_front.address], user="demo", password="demo",
                    topics=[(100, "beginning")]) as feed:
        updates, batch = asyncio.run(asyncio.wait_for(consume(feed), 10))
    assert [u.sequence for u in updates] == sorted(u.sequence for u in updates)
    assert updates[0].record.InstrumentID == "XA2509" and len(batch) > 0
    assert batch["SequenceNo"][0] >= updates[-1].sequence


def test_a_feed_finds_its_front_through_a_name_server(start_front):
    front = start_front("--name-server", "127.0.0.1:0")
    with xelmd.Feed(name_servers=[front.addresses[1]], topics=[(100, "beginning")]) as feed:
        assert feed.next(10.0).topic == 100
