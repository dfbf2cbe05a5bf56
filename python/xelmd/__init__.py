"""Market data from xelmd fronts in Python.

Two levels:

* ``Api`` and ``Spi``: the library's interface one to one.  Every operation
  that fails raises ``ApiError`` carrying the library's result code, its name
  and its meaning; operations that succeed return ``None``.  Subclass ``Spi``
  and override the callbacks you need; they run on the API's network thread.
* ``Feed``: connects, logs in, reconnects by itself, and hands depth updates
  to Python one at a time (iteration) or as NumPy structured arrays
  (``read_batch``).
"""

import asyncio
import atexit
import os
import types
from collections import namedtuple

from . import _xelmd

__all__ = ["Api", "Spi", "Record", "ApiError", "LoginError", "FeedOverflow", "Feed",
           "Update", "RESUME_FROM_BEGINNING", "RESUME_FROM_SAVED", "RESUME_FROM_NOW",
           "depth_dtype", "bridge_dtype", "reason_text", "result_text"]

RESUME_FROM_BEGINNING = 0
RESUME_FROM_SAVED = 1
RESUME_FROM_NOW = 2
_RESUME = {"beginning": 0, "saved": 1, "now": 2}


class Record(types.SimpleNamespace):
    """A record of the interface.  Attributes keep the C member names
    (``InstrumentID``, ``LastPrice``, ...); a member sent as null is ``None``."""


class ApiError(Exception):
    """A negative result of an ``Api`` operation: ``code``, ``name``, ``meaning``."""

    def __init__(self, code, name, meaning):
        super().__init__(f"{code} {name}: {meaning}")
        self.code, self.name, self.meaning = code, name, meaning


class LoginError(Exception):
    """The front refused the login: ``error_id`` and ``error_msg`` as it sent them."""

    def __init__(self, error_id, error_msg):
        super().__init__(f"login refused: {error_id} {error_msg}")
        self.error_id, self.error_msg = error_id, error_msg


class FeedOverflow(Exception):
    """Python fell behind and the feed's queue filled up.  The feed stopped at
    the packet (``topic``, ``sequence``); every update queued before it was
    delivered, none after it."""

    def __init__(self, topic, sequence):
        super().__init__(f"the consumer fell behind: stopped at topic {topic} "
                         f"packet {sequence}")
        self.topic, self.sequence = topic, sequence


def result_text(code):
    """(name, meaning) of a result code of the interface."""
    return _xelmd.result_text(code)


def reason_text(reason):
    """(name, meaning) of a disconnect reason."""
    return _xelmd.reason_text(reason)


class Spi:
    """Callbacks of an ``Api``; subclass and override what you need.  A method
    left as it is never enters Python.  An exception raised in a callback is
    reported through ``sys.unraisablehook`` and the data goes on."""

    def on_front_connected(self): pass
    def on_front_disconnected(self, reason): pass
    def on_heart_beat_warning(self, time_lapse): pass
    def on_package_start(self, topic_id, sequence_no): pass
    def on_package_end(self, topic_id, sequence_no): pass
    def on_rsp_error(self, rsp_info, request_id, is_last): pass
    def on_rsp_user_login(self, rsp_user_login, rsp_info, request_id, is_last): pass
    def on_rsp_user_logout(self, rsp_user_logout, rsp_info, request_id, is_last): pass
    def on_rsp_user_password_update(self, user_password_update, rsp_info, request_id,
                                    is_last): pass
    def on_rsp_subscribe_topic(self, dissemination, rsp_info, request_id, is_last): pass
    def on_rsp_qry_topic(self, dissemination, rsp_info, request_id, is_last): pass
    def on_rtn_flow_message_cancel(self, flow_message_cancel): pass
    def on_rtn_depth_market_data(self, depth_market_data): pass


Api = _xelmd.Api
Api.__doc__ = """The API object.  ``Api(flow_path="")``; ``close()`` releases and
joins it and may be called any number of times, from any thread, from a
callback (the join then happens at the next ``close()`` elsewhere or at exit)
and at exit."""
Api.__enter__ = lambda self: self
Api.__exit__ = lambda self, *exc: self.close()

Update = namedtuple("Update", "topic sequence record")
Update.__doc__ = "One depth update: topic, packet sequence number and the Record."


def depth_dtype():
    """The NumPy dtype of ``Feed.read_batch`` rows: the depth record's members at
    their C offsets, then ``Topic`` and ``SequenceNo``."""
    return _xelmd.depth_dtype()


# The binary payload of xelmd-bridge: a 32-byte little-endian header, then the
# depth record as the library lays it out.
_BRIDGE_HEADER = [("Magic", "S2", 0), ("Version", "u1", 2), ("HeaderLength", "u1", 3),
                  ("RecordLength", "<u4", 4), ("Topic", "<i4", 8), ("Index", "<u4", 12),
                  ("SequenceNo", "<i8", 16), ("BridgeTimeNs", "<i8", 24)]
_BRIDGE_HEADER_SIZE = 32


def bridge_dtype():
    """The NumPy dtype of one binary message of ``xelmd-bridge --format binary``:
    the header (``Magic`` b"XB", ``Version`` 1, ``HeaderLength`` 32,
    ``RecordLength``, ``Topic``, ``Index`` inside the packet, ``SequenceNo``,
    ``BridgeTimeNs`` when the update reached the bridge), then the depth
    record's members.  ``numpy.frombuffer(payload, dtype=xelmd.bridge_dtype())``
    reads a payload of version 1; check ``Magic`` and ``Version`` first."""
    depth = _xelmd.depth_dtype()
    names = [n for n, _, _ in _BRIDGE_HEADER]
    formats = [f for _, f, _ in _BRIDGE_HEADER]
    offsets = [o for _, _, o in _BRIDGE_HEADER]
    for name in depth.names:
        form, offset = depth.fields[name][:2]
        if offset >= _xelmd.DEPTH_RECORD_SIZE:
            continue  # Topic and SequenceNo follow the record in read_batch rows only
        names.append(name)
        formats.append(form)
        offsets.append(_BRIDGE_HEADER_SIZE + offset)
    import numpy
    return numpy.dtype({"names": names, "formats": formats, "offsets": offsets,
                        "itemsize": _BRIDGE_HEADER_SIZE + _xelmd.DEPTH_RECORD_SIZE})


class Feed:
    """Depth updates from fronts (or name servers) with login and reconnection.

    ``Feed(fronts=[...], user=..., password=..., topics=[(100, "now")])``;
    resume modes are ``"beginning"``, ``"saved"`` (from the count the last run
    saved in ``state_dir``) and ``"now"``.  Entering the context (or
    ``start()``) connects and waits for the login answer: a refusal raises
    ``LoginError``.  Up to ``capacity`` updates wait for Python; when the
    queue is full the feed stops and, once the queued updates are read,
    raises ``FeedOverflow``: nothing is dropped silently."""

    def __init__(self, fronts=(), user="", password="", topics=((100, "now"),),
                 state_dir=None, name_servers=(), capacity=65536, heartbeat=0,
                 login_timeout=10.0):
        options = _xelmd.FeedOptions()
        options.fronts = list(fronts)
        options.name_servers = list(name_servers)
        options.user, options.password = user, password
        options.topics = [(t, _RESUME[m] if isinstance(m, str) else int(m)) for t, m in topics]
        options.state_dir = state_dir or ""
        options.capacity = capacity
        options.heartbeat = heartbeat
        self._core = _xelmd.FeedCore(options)
        self._login_timeout = login_timeout

    def start(self):
        self._core.start(self._login_timeout)
        return self

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.close()
            raise

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Stop the feed (idempotent)."""
        self._core.close()

    def read_batch(self, max_rows=65536, timeout=1.0):
        """Up to ``max_rows`` updates as a NumPy array of ``depth_dtype()``; empty
        after ``timeout`` seconds without data (``None``: wait).  Null prices are
        NaN."""
        return self._core.read_batch(max_rows, -1.0 if timeout is None else timeout)

    def next(self, timeout=None):
        """The next ``Update``, or ``None`` after ``timeout`` seconds."""
        u = self._core.next_update(-1.0 if timeout is None else timeout)
        return None if u is None else Update(*u)

    def __iter__(self):
        """Updates one at a time; ``async for`` works the same under asyncio."""
        while True:
            yield Update(*self._core.next_update(-1.0))

    def __aiter__(self):
        return self._updates_async()

    async def _updates_async(self):
        while True:
            update = self._core.next_update(0.0)
            if update is None:
                await self._readable()
            else:
                yield Update(*update)

    async def batches(self, max_rows=65536):
        """``async for batch in feed.batches():`` NumPy arrays as ``read_batch``
        gives them, the event loop woken once per batch."""
        while True:
            batch = self._core.read_batch(max_rows, 0.0)
            if len(batch):
                yield batch
            else:
                await self._readable()

    async def _readable(self):
        # The feed's event descriptor turns readable when updates arrive in
        # an empty queue; the loop watches it, no thread waits.
        fd = self._core.event_fd()
        loop = asyncio.get_running_loop()
        woken = loop.create_future()
        loop.add_reader(fd, lambda: woken.done() or woken.set_result(None))
        try:
            await woken
        finally:
            loop.remove_reader(fd)
        try:
            os.read(fd, 8)
        except BlockingIOError:
            pass

    @property
    def disconnects(self):
        """How many times the connection was lost so far."""
        return self._core.disconnects()

    @property
    def last_reason(self):
        """The reason of the last disconnection (0 before any)."""
        return self._core.last_reason()


_xelmd.set_record_type(Record)
atexit.register(_xelmd.shutdown)
