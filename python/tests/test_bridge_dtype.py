"""bridge_dtype() against a binary bridge message built by hand from the
published layout (header offsets, then the record at its C offsets)."""
import struct

import numpy

import xelmd


def test_bridge_dtype_reads_a_hand_built_message():
    header = b"XB" + bytes([1, 32]) + struct.pack("<IiIqq", 368, 100, 3, 4242, 1700000000123456789)
    record = bytearray(368)
    record[0:8] = b"20250912"
    record[24:32] = struct.pack("<d", 3500.5)          # LastPrice
    record[80:84] = struct.pack("<i", 12)              # Volume
    record[168:174] = b"IF2501"                        # InstrumentID
    record[200:212] = struct.pack("<di", 3500.0, 3)    # BidPrice1, BidVolume1
    record[216:228] = struct.pack("<di", 3501.0, 4)    # AskPrice1, AskVolume1
    record[352:356] = struct.pack("<i", 9)             # AskVolume5
    record[356:364] = b"20250913"                      # ActionDay
    row = numpy.frombuffer(header + bytes(record), dtype=xelmd.bridge_dtype())[0]
    assert xelmd.bridge_dtype().itemsize == 400
    assert (row["Magic"], row["Version"], row["HeaderLength"], row["RecordLength"]) == \
        (b"XB", 1, 32, 368)
    assert (row["Topic"], row["Index"], row["SequenceNo"], row["BridgeTimeNs"]) == \
        (100, 3, 4242, 1700000000123456789)
    assert row["TradingDay"] == b"20250912" and row["InstrumentID"] == b"IF2501"
    assert (row["LastPrice"], row["Volume"]) == (3500.5, 12)
    assert (row["BidPrice1"], row["BidVolume1"], row["AskPrice1"], row["AskVolume1"]) == \
        (3500.0, 3, 3501.0, 4)
    assert row["AskVolume5"] == 9 and row["ActionDay"] == b"20250913"
