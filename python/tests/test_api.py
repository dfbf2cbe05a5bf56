import gc
import sys
import threading
import time

import pytest

import xelmd


class Client(xelmd.Spi):
    """Logs in on connection and counts depth records."""

    def __init__(self, api, password="demo"):
        self.api, self.password = api, password
        self.login = threading.Event()
        self.info = None
        self.depth = []
        self.reasons = []

    def on_front_connected(self):
        self.api.req_user_login({"UserID": "demo", "Password": self.password,
                                 "UserProductInfo": "test"}, 1)

    def on_rsp_user_login(self, rsp, info, request_id, is_last):
        self.info = info
        self.login.set()

    def on_front_disconnected(self, reason):
        self.reasons.append(reason)

    def on_rtn_depth_market_data(self, record):
        self.depth.append(record)


def started(front, spi_class=Client, **kw):
    api = xelmd.Api()
    spi = spi_class(api, **kw)
    api.register_spi(spi)
    api.register_front(front.address)
    api.subscribe_market_data_topic(100, xelmd.RESUME_FROM_BEGINNING)
    api.init()
    assert spi.login.wait(10)
    return api, spi


def wait_for(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.02)
    return condition()


def test_login_and_records_through_the_callbacks(replay_front):
    api, spi = started(replay_front)
    assert spi.info is None or spi.info.ErrorID == 0
    assert wait_for(lambda: len(spi.depth) >= 2)
    assert api.get_trading_day()
    api.close()
    first = next(r for r in spi.depth if r.InstrumentID == "XA2509")
    assert (first.LastPrice, first.Volume, first.AskVolume1) == (3500.5, 12, 4)
    assert next(r for r in spi.depth if r.InstrumentID == "XB2509").LastPrice is None
    assert spi.reasons[-1] == 0


def test_refused_login_reaches_the_callback(replay_front):
    api, spi = started(replay_front, password="wrong")
    api.close()
    assert spi.info.ErrorID == 3 and spi.info.ErrorMsg


def test_errors_carry_code_name_and_meaning(replay_front):
    api, spi = started(replay_front)
    with pytest.raises(xelmd.ApiError) as again:
        api.init()
    assert (again.value.code, again.value.name) == (-5, "already")
    with pytest.raises(xelmd.ApiError) as late:
        api.register_front(replay_front.address)
    assert late.value.code == -10
    api.close()
    api.close()
    with pytest.raises(xelmd.ApiError) as released:
        api.get_trading_day()
    assert released.value.code == -15


def test_an_exception_in_a_callback_is_unraisable_and_data_goes_on(replay_front, monkeypatch):
    class Raising(Client):
        def on_rtn_depth_market_data(self, record):
            super().on_rtn_depth_market_data(record)
            raise ValueError("from the callback")

    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(u.exc_value))
    api, spi = started(replay_front, Raising)
    assert wait_for(lambda: len(spi.depth) >= 5)
    api.close()
    assert len(seen) >= 5 and all(isinstance(e, ValueError) for e in seen)


def test_close_from_a_callback_then_again_from_python(replay_front):
    class Closing(Client):
        def on_rtn_depth_market_data(self, record):
            super().on_rtn_depth_market_data(record)
            self.api.close()

    api, spi = started(replay_front, Closing)
    assert wait_for(lambda: spi.reasons == [0])
    assert len(spi.depth) == 1
    api.close()  # the Join the callback could not do
    api.close()


def test_garbage_collected_while_data_flows(replay_front):
    api, spi = started(replay_front)
    assert wait_for(lambda: len(spi.depth) >= 3)
    del api
    spi.api = None  # the last reference
    gc.collect()
    assert wait_for(lambda: spi.reasons[-1:] == [0])



def test_a_callback_left_as_it_is_never_enters_python(replay_front, monkeypatch):
    calls = []
    api, spi = started(replay_front)
    # Patched after registration: a callback found not overridden then is
    # never looked up again.
    monkeypatch.setattr(xelmd.Spi, "on_package_start", lambda self, *a: calls.append(a))
    assert wait_for(lambda: len(spi.depth) >= 3)
    api.close()
    assert calls == []
