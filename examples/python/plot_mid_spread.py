#!/usr/bin/env python3
"""Records ten seconds of one instrument into pandas and saves a plot of its
mid price and spread.

    python3 plot_mid_spread.py tcp://127.0.0.1:30007 XS2509 [out.png]
"""
import sys
import time

import matplotlib
import numpy as np
import pandas as pd

import xelmd

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def record(front, instrument, seconds=10.0):
    batches = []
    with xelmd.Feed(fronts=[front], topics=[(100, "now")]) as feed:
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            batch = feed.read_batch(65536, min(1.0, max(0.0, end - time.monotonic())))
            batches.append(batch[batch["InstrumentID"] == instrument.encode()])
    frame = pd.DataFrame(np.concatenate(batches))
    frame["time"] = pd.to_datetime(frame["UpdateTime"].str.decode("ascii"), format="%H:%M:%S") \
        + pd.to_timedelta(frame["UpdateMillisec"], unit="ms")
    frame["mid"] = (frame["BidPrice1"] + frame["AskPrice1"]) / 2
    frame["spread"] = frame["AskPrice1"] - frame["BidPrice1"]
    return frame


def main():
    front = sys.argv[1] if len(sys.argv) > 1 else "tcp://127.0.0.1:30007"
    instrument = sys.argv[2] if len(sys.argv) > 2 else "XS2509"
    out = sys.argv[3] if len(sys.argv) > 3 else "mid_spread.png"
    frame = record(front, instrument)
    if frame.empty:
        sys.exit(f"no update of {instrument} in ten seconds")
    fig, (mid, spread) = plt.subplots(2, 1, sharex=True, figsize=(9, 5))
    mid.plot(frame["time"], frame["mid"])
    mid.set_ylabel("mid price")
    spread.step(frame["time"], frame["spread"], where="post")
    spread.set_ylabel("spread")
    fig.suptitle(f"{instrument}: {len(frame)} updates")
    fig.savefig(out, dpi=100)
    print(f"{len(frame)} updates of {instrument} -> {out}")


if __name__ == "__main__":
    main()
