"""xelmd-front processes on free loopback ports, in temporary directories."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

import xelmd

FRONT = os.path.abspath(os.environ.get("XELMD_FRONT_BIN", "xelmd-front"))
# Child interpreters find the same package from any working directory.
os.environ["PYTHONPATH"] = os.path.dirname(os.path.dirname(os.path.abspath(xelmd.__file__)))

# Rows the replay front sends, in order; LastPrice of XB is null.
DEPTH_CSV = """InstrumentID,LastPrice,Volume,BidPrice1,BidVolume1,AskPrice1,AskVolume1,UpdateTime
XA2509,3500.5,12,3500,3,3501,4,09:30:00
XB2509,,7,10.25,1,10.5,2,09:30:01
"""


class Front:
    def __init__(self, *args):
        self.dir = tempfile.mkdtemp(prefix="xelmd_py_")
        ports = os.path.join(self.dir, "ports")
        log = open(os.path.join(self.dir, "front.log"), "w")
        self.proc = subprocess.Popen(
            [FRONT, *args, "--listen", "127.0.0.1:0", "--port-file", ports, "--quiet"],
            stdout=log, stderr=log)
        for _ in range(100):
            if os.path.exists(ports) and open(ports).read().split():
                break
            time.sleep(0.05)
        # The front's port, then the name server's when one is asked for.
        self.addresses = ["tcp://127.0.0.1:" + p for p in open(ports).read().split()]
        self.address = self.addresses[0]

    def path(self, name):
        return os.path.join(self.dir, name)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            self.proc.wait(10)


@pytest.fixture
def start_front():
    started = []

    def start(*args):
        started.append(Front(*args))
        return started[-1]
    yield start
    for f in started:
        f.stop()
        shutil.rmtree(f.dir, ignore_errors=True)


@pytest.fixture
def replay_front(tmp_path, start_front):
    csv = tmp_path / "depth.csv"
    csv.write_text(DEPTH_CSV)
    users = tmp_path / "users.json"
    users.write_text(json.dumps({"users": [
        {"user": "demo", "password": "demo", "participant": "P01"}]}))
    return start_front("--replay", str(csv), "--users", str(users), "--rate", "200")


@pytest.fixture(autouse=True)
def scratch_cwd(tmp_path, monkeypatch):
    """API objects without a flow path keep md.con in the working directory."""
    monkeypatch.chdir(tmp_path)
