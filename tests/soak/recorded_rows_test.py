"""The soak's file check must fail on the faults it is there to catch.

  python3 -m unittest discover -s tests/soak -p '*_test.py'
"""

import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recorded_rows  # noqa: E402

RATE, SNAPSHOTS = 50, 4
START = time.mktime(time.strptime("2025-09-12 10:00:00", "%Y-%m-%d %H:%M:%S"))


def packet(seq, started):
    """A row as a front started at `started` makes packet seq."""
    made = started + max(0, seq - SNAPSHOTS) / RATE
    return seq, time.strftime("%H:%M:%S", time.localtime(made)), int(made % 1 * 1000)


FIRST = [packet(n, START) for n in range(1, 301)]
RESTART = START + 10  # a new front; the client had packets up to 300
AFTER = [packet(n, RESTART) for n in range(21, 41)]

# name, rows, front restarts, expected failure text ("" for none), renumberings
CASES = [
    ("clean", FIRST, [], "", 0),
    ("repeat", FIRST[:100] + FIRST[99:], [], "packet 100 recorded twice", 0),
    ("hole", FIRST[:100] + FIRST[101:], [], "packets 101..101 missing", 0),
    ("late start", FIRST[3:], [], "the first row is packet 4", 0),
    ("renumbered by a restart", FIRST + AFTER, [RESTART], "", 1),
    ("renumbered with no restart", FIRST + AFTER, [], "packet 21 after packet 300", 0),
    ("old packets again after a restart", FIRST + FIRST[20:40], [RESTART],
     "packet 21 after packet 300", 0),
    ("one restart, two renumberings", FIRST + AFTER + AFTER, [RESTART],
     "packet 21 after packet 40", 1),
]


class RecordedRowsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="xelmd_rows_")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_cases(self):
        for name, rows, restarts, failure, renumberings in CASES:
            with self.subTest(name):
                with open(os.path.join(self.dir, "100-20250912.csv"), "w") as f:
                    f.write("InstrumentID,UpdateTime,UpdateMillisec,Topic,SequenceNo\n")
                    for seq, hms, ms in rows:
                        f.write("i1,%s,%d,100,%d\n" % (hms, ms, seq))
                count, (result,) = recorded_rows.check(self.dir, (100,), restarts, RATE,
                                                       SNAPSHOTS)
                self.assertEqual(count, len(rows))
                self.assertEqual(result.resets, renumberings)
                if failure:
                    self.assertIn(failure, " | ".join(result.failures))
                else:
                    self.assertEqual(result.failures, [])


if __name__ == "__main__":
    unittest.main()
