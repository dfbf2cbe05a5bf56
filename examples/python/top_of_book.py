#!/usr/bin/env python3
"""Prints the best bid and ask of every instrument as updates arrive.

    python3 top_of_book.py tcp://127.0.0.1:30007 [topic]
"""
import sys

import xelmd


def main():
    front = sys.argv[1] if len(sys.argv) > 1 else "tcp://127.0.0.1:30007"
    topic = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    with xelmd.Feed(fronts=[front], user="demo", password="demo",
                    topics=[(topic, "now")]) as feed:
        for update in feed:
            r = update.record
            print(f"{r.UpdateTime} {r.InstrumentID:<12} {r.BidVolume1 or 0:>6} "
                  f"{r.BidPrice1 or float('nan'):>12.3f} | {r.AskPrice1 or float('nan'):<12.3f} "
                  f"{r.AskVolume1 or 0:<6} last {r.LastPrice}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
