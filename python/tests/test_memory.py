import os
import subprocess

import pytest

import xelmd

BLASTER = os.environ.get("XELMD_BLASTER_BIN")
KEY = os.path.join(os.environ.get("XELMD_SOURCE_DIR", ""), "tools", "keys",
                   "terminal_rsa_private.pem")


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not BLASTER, reason="the benchmarks' blaster is not built")
def test_memory_stays_flat_over_ten_million_updates(tmp_path):
    ports = tmp_path / "port"
    # Paced well below what the reader takes: an unpaced stream can outrun it
    # on a loaded machine, and the feed then stops by design (FeedOverflow).
    blaster = subprocess.Popen([BLASTER, "--seconds", "60", "--rate", "1000000", "--terminal-key",
                                KEY, "--kind", "increment", "--cipher", "0", "--port-file",
                                str(ports)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while not (ports.exists() and ports.read_text().strip()):
            assert blaster.poll() is None
        address = "tcp://127.0.0.1:" + ports.read_text().strip()
        seen, warm = 0, None
        with xelmd.Feed(fronts=[address], topics=[(100, "now")], capacity=1 << 18) as feed:
            while seen < 10_000_000:
                batch = feed.read_batch(65536, 10.0)
                assert len(batch) > 0
                seen += len(batch)
                if warm is None and seen >= 1_000_000:
                    warm = resident_bytes()
        assert resident_bytes() - warm < 32 << 20
    finally:
        blaster.kill()
        blaster.wait()
