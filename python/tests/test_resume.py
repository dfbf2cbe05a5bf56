import json
import os
import subprocess
import sys

READ = """
import json, sys, xelmd
address, state, count = sys.argv[1], sys.argv[2] or None, int(sys.argv[3])
with xelmd.Feed(fronts=[address], topics=[(100, "beginning")], state_dir=state) as feed:
    rows = []
    for _ in range(count):
        u = feed.next(10.0)
        r = u.record
        rows.append([u.sequence, r.InstrumentID, r.LastPrice, r.BidPrice1, r.AskVolume1,
                     r.Volume, r.UpdateTime, r.UpdateMillisec])
print(json.dumps(rows))
"""


def read(script, address, state, count):
    out = subprocess.run([sys.executable, str(script), address, state, str(count)],
                         capture_output=True, env=os.environ, timeout=60)
    assert out.returncode == 0, out.stderr.decode()
    return json.loads(out.stdout)


def test_a_restarted_process_continues_exactly_after_the_last_update_read(start_front, tmp_path):
    front = start_front("--rate", "200", "--instruments", "4", "--snapshot-every", "10")
    script = tmp_path / "read.py"
    script.write_text(READ)
    state = str(tmp_path / "state")
    first = read(script, front.address, state, 37)
    second = read(script, front.address, state, 45)
    third = read(script, front.address, state, 20)
    reference = read(script, front.address, "", 102)
    assert first + second + third == reference
