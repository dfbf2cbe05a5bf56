"""Checks the recorder's CSV files: every packet of a topic exactly once and
in order.

The soak's front writes one depth record per packet, so each packet is one
row and the rows of a topic must number 1, 2, 3, ... with no repeat and no
hole. The one allowed break is a front's restart: a restarted front holds
no history, so a client that had gone further is served from the new
front's end and the numbers start again lower down. Such a restart of
numbering is accepted only once per front restart, and only when the row's
time stamp (the front's clock when it made the packet) fits its number in a
front started at that restart: a front makes packet n about
(n - snapshots at start) / rate seconds after it starts, later when it is
slow to start or falls behind (up to LATE_S), never earlier (EARLY_S for
the clocks' rounding). A repeat of old packets carries old time stamps.
"""

import csv
import glob
import os
import time

EARLY_S = 1.0
LATE_S = 5.0
MAX_REPORTS = 8


def seconds_of_day(epoch):
    t = time.localtime(epoch)
    return t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec + (epoch % 1.0)


def row_seconds(update_time, millisec):
    try:
        h, m, s = (int(x) for x in update_time.split(":"))
        return h * 3600 + m * 60 + s + int(millisec or 0) / 1000.0
    except ValueError:
        return None


def day_difference(later, earlier):
    """later - earlier in seconds of day, across midnight when needed."""
    d = later - earlier
    if d < -43200:
        d += 86400
    elif d > 43200:
        d -= 86400
    return d


def read_rows(dir_path):
    """{topic: [(sequence, seconds of day or None)]} in file order."""
    topics = {}
    for path in sorted(glob.glob(os.path.join(dir_path, "*.csv"))):
        with open(path, newline="") as f:
            reader = csv.reader(f)
            head = next(reader, None)
            if head is None:
                continue
            col = {name: i for i, name in enumerate(head)}
            for row in reader:
                topic = int(row[col["Topic"]])
                when = row_seconds(row[col["UpdateTime"]], row[col["UpdateMillisec"]])
                topics.setdefault(topic, []).append((int(row[col["SequenceNo"]]), when))
    return topics


class TopicCheck:
    def __init__(self, topic, rows, restarts, rate, snapshots):
        self.topic = topic
        self.rows = rows
        self.restarts = [seconds_of_day(t) for t in restarts]
        self.rate = rate
        self.snapshots = snapshots
        self.next_restart = 0
        self.resets = 0
        self.failures = []

    def fits_restart(self, sequence, when):
        if when is None:
            return False
        for i in range(self.next_restart, len(self.restarts)):
            age = day_difference(when, self.restarts[i])
            made_at = max(0, sequence - self.snapshots) / self.rate
            if made_at - EARLY_S <= age <= made_at + LATE_S:
                self.next_restart = i + 1
                return True
        return False

    def fail(self, text):
        if len(self.failures) < MAX_REPORTS:
            self.failures.append("topic %d: %s" % (self.topic, text))
        elif len(self.failures) == MAX_REPORTS:
            self.failures.append("topic %d: (further breaks not listed)" % self.topic)

    def run(self):
        if not self.rows:
            self.fail("no rows recorded")
            return self
        if self.rows[0][0] != 1:
            self.fail("the first row is packet %d, expected 1" % self.rows[0][0])
        for i in range(1, len(self.rows)):
            prev, (seq, when) = self.rows[i - 1][0], self.rows[i]
            if seq == prev + 1:
                continue
            if seq <= prev and self.fits_restart(seq, when):
                self.resets += 1
            elif seq == prev:
                self.fail("packet %d recorded twice (row %d)" % (seq, i + 2))
            elif seq < prev:
                self.fail("packet %d after packet %d (row %d)" % (seq, prev, i + 2))
            else:
                self.fail("packets %d..%d missing (row %d)" % (prev + 1, seq - 1, i + 2))
        return self


def check(dir_path, topics, restarts, rate, snapshots):
    """(rows checked, per-topic TopicCheck list) for the given topics."""
    found = read_rows(dir_path)
    results = [TopicCheck(t, found.get(t, []), restarts, rate, snapshots).run() for t in topics]
    for t in sorted(set(found) - set(topics)):
        results.append(TopicCheck(t, found[t], [], rate, snapshots))
        results[-1].fail("rows of a topic not recorded")
    return sum(len(r.rows) for r in results), results
