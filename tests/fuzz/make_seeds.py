#!/usr/bin/env python3
"""Writes the hand-made seeds of the file and server fuzz targets into
corpus/<target>/ beside this script. Frames follow the wire layout: a data
unit (type 2, content length), the compression header (version 1, plain),
the packet header, then fields (id, length, big-endian members)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def seed(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def text(s, size):
    return s.encode().ljust(size, b"\0")


def field(fid, body):
    return struct.pack(">HH", fid, len(body)) + body


def frame(tid, sequence, fields, series=0, request=0):
    body = b"".join(fields)
    packet = struct.pack(">BBHHHIHHI", 4, ord("L"), series, 0, tid, sequence,
                         len(fields), len(body), request) + body
    content = b"\x01\x00" + packet
    return struct.pack(">BBH", 2, 0, len(content)) + content


def dissemination(topic, position):
    return field(0x0001, struct.pack(">hi", topic, position))


def login(user, password, topics):
    record = (text("20250912", 9) + text(user, 16) + text("P01", 11) + text(password, 41) +
              text("fuzz", 41) + text("TARN XelMdApi V2.00 202508.1835", 41) +
              text("XELO 4", 41) + struct.pack(">i", 1))
    return frame(0x1001, 2, [field(0x000A, record)] + [dissemination(t, p) for t, p in topics])


KEY = frame(0x6091, 1, [field(0x800A, struct.pack(">i", 25081835)),
                        field(0x8017, text("40" + "A" * 64 + "40" + "B" * 64, 301))])
HEARTBEAT = b"\x00\x02\x00\x00\x05\x00"  # a control unit: extension tag 5, no value


def front_server():
    plain = b"\x00\x07"  # the clear front; piece seed 7
    seed("front_server_fuzz", "key_only", plain + KEY)
    seed("front_server_fuzz", "login_before_key", plain + login("demo", "demo", []))
    seed("front_server_fuzz", "login_topics",
         plain + KEY + login("demo", "demo", [(100, 0), (200, -1), (300, 5)]))
    seed("front_server_fuzz", "wrong_password", plain + KEY + login("demo", "x", []))
    requests = [
        frame(0x4201, 1, [dissemination(0, 0)], series=1, request=1),
        frame(0x1F01, 2, [dissemination(200, 1)], series=1, request=2),
        frame(0x100F, 3, [field(0x0032, text("demo", 16) + text("P01", 11) + text("demo", 41) +
                                text("new", 41))], series=1, request=3),
        frame(0x1003, 4, [field(0x000C, text("demo", 16) + text("P01", 11))], series=1,
              request=4),
        frame(0x7777, 5, [], series=1, request=5),
    ]
    seed("front_server_fuzz", "requests",
         plain + KEY + login("demo", "demo", [(100, 1)]) + HEARTBEAT + b"".join(requests))
    again = [frame(0x1F01, 1, [dissemination(100, 0)], series=1),
             frame(0x1F01, 2, [dissemination(100, -1)], series=1),
             frame(0x1003, 3, [field(0x000C, text("demo", 16) + text("P01", 11))], series=1),
             login("demo", "demo", [(100, 0), (100, 1)])]
    seed("front_server_fuzz", "subscribe_twice_and_again",
         plain + KEY + login("demo", "demo", [(200, 0)]) + b"".join(again))
    seed("front_server_fuzz", "sm2_key", b"\x01\x03" + KEY + login("demo", "demo", []))
    seed("front_server_fuzz", "bad_unit", plain + b"\x55\x00\x00\x10" + b"\x00" * 16)


def name_server():
    seed("name_server_answer_fuzz", "two_lines", "tcp://127.0.0.1:30007\r\ntcp://127.0.0.2:30008\r\n")
    seed("name_server_answer_fuzz", "mixed",
         "garbage\ntcp://127.0.0.1\ntcp://127.0.0.1:0\rtcp:/1.2.3.4:80\rtcp://h:1/md\n"
         "tcp://" + "x" * 40 + ":9\n")


def connection_file():
    seed("connection_file_fuzz", "three_topics",
         "20250912,  7\n    3,      1200\n    5,        40\n65535,4294967295\n")
    seed("connection_file_fuzz", "garbage_head", "garbage\n  100,        12\n")
    seed("connection_file_fuzz", "crlf_negative", "-1234567,-99\r\n   -1,        -1\r\n")
    seed("connection_file_fuzz", "empty", "")


HEAD = ("TradingDay,SettlementGroupID,SettlementID,LastPrice,PreSettlementPrice,PreClosePrice,"
        "PreOpenInterest,OpenPrice,HighestPrice,LowestPrice,Volume,Turnover,OpenInterest,"
        "ClosePrice,SettlementPrice,UpperLimitPrice,LowerLimitPrice,PreDelta,CurrDelta,UpdateTime,"
        "UpdateMillisec,InstrumentID,BidPrice1,BidVolume1,AskPrice1,AskVolume1,BidPrice2,"
        "BidVolume2,AskPrice2,AskVolume2,BidPrice3,BidVolume3,AskPrice3,AskVolume3,BidPrice4,"
        "BidVolume4,AskPrice4,AskVolume4,BidPrice5,BidVolume5,AskPrice5,AskVolume5,ActionDay,"
        "Topic,SequenceNo")


def csv_row(sequence, instrument):
    return ("20250912,SG1,,0.1,,,,,,,7,,,,,,,,,09:30:00,500,%s,-2.25,0,1e-300,,,,,,,,,,,,,,,,,,"
            "20250912,100,%d\n" % (instrument, sequence))


def json_row(sequence, instrument):
    return ('{"TradingDay":"20250912","LastPrice":"0.1","InstrumentID":"%s","BidPrice1":"-2.25",'
            '"Topic":"100","SequenceNo":"%d"}\n' % (instrument, sequence))


def resume_scan():
    rows = csv_row(1, "a1") + csv_row(2, "a1") + csv_row(2, "b1")
    seed("resume_scan_fuzz", "csv_torn", "\x00" + HEAD + "\n" + rows + csv_row(3, "a1")[:40])
    seed("resume_scan_fuzz", "csv_whole", "\x00" + HEAD + "\n" + rows)
    seed("resume_scan_fuzz", "csv_torn_head", "\x00" + HEAD[:50])
    seed("resume_scan_fuzz", "csv_other_topic", "\x00" + HEAD + "\n" + rows.replace(",100,", ",7,"))
    jrows = json_row(1, "a1") + json_row(2, "a1") + json_row(2, "b1")
    seed("resume_scan_fuzz", "json_torn", "\x01" + jrows + json_row(3, "a1")[:30])
    seed("resume_scan_fuzz", "json_zeros", "\x01" + jrows + "\0" * 20 + "\n")


def front_files():
    seed("user_table_fuzz", "two",
         '{"users": [{"user": "demo", "password": "demo", "participant": "P01"},'
         ' {"user": "u2", "password": ""}]}')
    seed("user_table_fuzz", "twice", '{"users": [{"user": "a", "password": "x"},'
         ' {"user": "a", "password": "y"}]}')
    seed("user_table_fuzz", "escapes", '{"users": [{"user": "\\u00e9\\n", "password": "\\"q"}]}')
    seed("scenario_fuzz", "every_action",
         '{"faults": [{"action": "drop", "after": 2.5}, {"action": "stall", "after": 1, '
         '"seconds": 30, "connection": 2}, {"action": "bad_sequence", "connection": 0}, '
         '{"action": "oversized_frame"}, {"action": "garbage", "bytes": 10}, '
         '{"action": "key_error", "connection": 3}, {"action": "key_refused"}]}')
    seed("scenario_fuzz", "limits", '{"faults": [{"action": "garbage", "bytes": 0.4, '
         '"after": 86400, "seconds": 1e3}]}')
    seed("scenario_fuzz", "unknown", '{"faults": [{"action": "stall", "sec": 1}]}')
    seed("depth_csv_fuzz", "replay",
         "InstrumentID,LastPrice,Volume,BidPrice1,BidVolume1,AskPrice1,AskVolume1,UpdateTime\n"
         "XA2509,3500.5,12,3500,3,3501,4,09:30:00\nXB2509,,0,10.25,1,10.5,2,09:30:01\n"
         "XC2509,abc,1,1,1,1,1,09:30:02\n")
    seed("depth_csv_fuzz", "quoted", 'TradingDay,InstrumentID\n"2025",",x"\n20250912,\n')
    seed("depth_csv_fuzz", "no_instrument", "LastPrice\n1\n")


for make in (front_server, name_server, connection_file, resume_scan, front_files):
    make()
