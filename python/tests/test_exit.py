import os
import subprocess
import sys
import pytest

SCRIPT = """
import signal, sys, threading, time, xelmd
address, mode = sys.argv[1], sys.argv[2]

class Client(xelmd.Spi):
    def __init__(self, api):
        self.api, self.count = api, 0
    def on_front_connected(self):
        self.api.req_user_login({"UserID": "u", "UserProductInfo": "t"}, 1)
    def on_rtn_depth_market_data(self, record):
        self.count += 1
        if mode == "close_in_callback":
            self.api.close()
        if mode == "slow_callback":
            time.sleep(0.05)

if mode.startswith("feed"):
    feed = xelmd.Feed(fronts=[address], topics=[(100, "beginning")]).start()
    assert len(feed.read_batch(10, 5.0)) > 0
    print("flowing", flush=True)
    if mode == "feed_del":
        del feed
    sys.exit(0)
api = xelmd.Api()
spi = Client(api)
api.register_spi(spi)
api.register_front(address)
api.subscribe_market_data_topic(100, xelmd.RESUME_FROM_BEGINNING)
api.init()
deadline = time.monotonic() + 5
while spi.count == 0 and time.monotonic() < deadline:
    time.sleep(0.01)
assert spi.count > 0
print("flowing", flush=True)
if mode == "sys_exit":
    sys.exit(0)
if mode == "del":
    del api
    spi.api = None
if mode == "keyboard_interrupt":
    try:
        signal.raise_signal(signal.SIGINT)
    except KeyboardInterrupt:
        pass
"""


@pytest.mark.parametrize("mode", ["plain", "sys_exit", "del", "keyboard_interrupt",
                                  "close_in_callback", "slow_callback", "feed", "feed_del"])
def test_exit_while_data_flows_is_clean_and_quick(start_front, tmp_path, mode):
    front = start_front("--rate", "500")
    script = tmp_path / "client.py"
    script.write_text(SCRIPT)
    for _ in range(13):  # 104 runs in all
        proc = subprocess.Popen([sys.executable, str(script), front.address, mode],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=os.environ)
        # Data flows once the script has seen a record; from there it exits.
        assert proc.stdout.readline() == b"flowing\n", proc.communicate(timeout=15)[1]
        err = proc.communicate(timeout=2)[1]
        assert proc.returncode == 0, err.decode()
        assert b"Exception" not in err and b"Fatal" not in err, err.decode()
