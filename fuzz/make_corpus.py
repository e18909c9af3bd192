#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/.

Each seed is a valid input in the target's own format (see the comment at the top of each target),
built from the wire layouts: messages as the controller sends them, discovery answers, an upgrade's
requests. Run it again after changing a format; it replaces the seeds it writes and leaves other
files alone.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

ALL_SINKS = 0x7FFF


# --- the message wire image ------------------------------------------------------------------------

def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def item_int(v):
    return struct.pack("<i", v)


def item_string(text):
    return pad4(struct.pack("<I", len(text)) + text)


def item_wide(text):
    units = text.encode("utf-16-le")
    return pad4(struct.pack("<I", 0x80000000 | len(units)) + units)


def item_raw(b):
    return item_int(len(b)) + pad4(b)


def frame(sink, code, payload=b""):
    return struct.pack("<hhi", sink, code, len(payload)) + payload


def header(sink, code, length):
    return struct.pack("<hhi", sink, code, length)


# --- msg_fields: one byte k, k operation bytes, the wire image -------------------------------------

READ_INT, SKIP_INT, READ_STRING, READ_STRING_VALUE, REWIND, SET_ID, APPEND_INT, APPEND_BYTES, \
    APPEND_STRING, RESERVE, CLONE, COMPARE, NEW_OWNED, CHECK = range(14)


def msg_seed(ops, wire):
    ops = bytes(ops)
    assert len(ops) < 256
    return bytes([len(ops)]) + ops + wire


def msg_fields():
    system_info = frame(1, 8121, item_string(b"CONTROLLER") + item_int(9) + item_int(0) * 4 + item_int(16))
    challenge = frame(1, 15, item_string(b"0123456789abcdefXYZ"))
    wide = frame(2, 15, item_wide("Gr\u00fc\u00dfe \u20ac \U0001F600"))
    return {
        "system_information": msg_seed(
            [READ_STRING, READ_INT, READ_INT, SKIP_INT, SKIP_INT, SKIP_INT, READ_INT, CHECK, REWIND,
             READ_STRING_VALUE, CHECK], system_info),
        "challenge_then_append": msg_seed(
            [READ_STRING, READ_INT, APPEND_INT, 1, 2, 3, 4, APPEND_STRING, 3, ord("a"), ord("b"), ord("c"),
             CHECK, SET_ID, 5, 0, CLONE, 1, READ_INT, CHECK], challenge),
        "wide_string": msg_seed([READ_STRING, CHECK, REWIND, READ_STRING_VALUE, COMPARE], wide),
        "string_past_the_end": msg_seed(
            [READ_STRING, READ_STRING, REWIND, READ_INT, APPEND_BYTES, 3, 7, 8, 9, CHECK],
            frame(3, 15, struct.pack("<I", 40) + b"short")),
        "empty_payload": msg_seed([READ_INT, READ_STRING, APPEND_INT, 0, 0, 0, 0, RESERVE, 200, CHECK],
                                  frame(ALL_SINKS, 100)),
        "length_past_the_bytes": msg_seed([READ_INT, SET_ID, 1, 0, APPEND_STRING, 1, ord("x"), CHECK],
                                          header(1, 15, 64) + b"\0" * 8),
        "owned_request": msg_seed(
            [NEW_OWNED, 0, 0, 0xB8, 0x20, 0, APPEND_STRING, 16, *b"umount /MIRU/BSP", CLONE, 0, READ_STRING,
             REWIND, READ_STRING_VALUE, RESERVE, 100, CHECK], b""),
        "short_header": msg_seed([READ_INT, CHECK], b"\x01\x00\x0f"),
    }


# --- discovery_answer: the datagram ------------------------------------------------------------------

def answer(address=(192, 168, 1, 20), port=7000, kind=9, subtype=0, name=b"CONTROLLER", mac=b"0050C2000001",
           second=b""):
    a = bytearray(180)
    a[0:4] = b"GH\0\0"
    a[4:8] = bytes(address)
    a[8:10] = struct.pack("<H", port)
    a[10] = kind
    a[11] = subtype
    a[12:12 + len(name)] = name
    a[40:40 + len(mac)] = mac
    a[52:52 + len(second)] = second
    return bytes(a)


def discovery_answer():
    run_on = bytearray(answer(name=b"N" * 28, mac=b"0050C2ABCDEF"))
    run_on[52:180] = b"x" * 128  # no zero byte anywhere after the name
    return {
        "r5": answer(),
        "extender": answer(kind=1, subtype=18, name=b"PD2 upstairs", mac=b"0050C2000002", second=b"v2.1"),
        "hidden_subtype": answer(kind=8, subtype=4, mac=b"0050C2000003"),
        "texts_without_end": bytes(run_on),
        "short_mac": answer(mac=b"0050C2", address=(10, 0, 0, 255)),
        "probe_not_an_answer": b"GH\0\0\0\0\0\0",
        "one_byte_long": answer() + b"\0",
    }


# --- sim_requests: flags byte, then records ----------------------------------------------------------

SERVED = [14, 27, 8120, 8376, 14000, 14030, 14032]
PRIMER, LOGIN, CUTTING = 1, 2, 4


def r_frame(sink, code, items=()):
    out = bytearray([0]) + struct.pack("<H", sink & 0xFFFF)
    out += bytes([SERVED.index(code)]) if code in SERVED else bytes([255]) + struct.pack("<H", code & 0xFFFF)
    out += bytes([len(items)])
    for item in items:
        if isinstance(item, int):
            out += bytes([0]) + struct.pack("<i", item)
        elif isinstance(item, tuple):  # ("raw", bytes)
            out += bytes([3, len(item[1])]) + item[1]
        else:
            out += bytes([2, len(item)]) + item
    return bytes(out)


def r_raw(b):
    return bytes([1, len(b)]) + b


def r_send(ms=1):
    return bytes([2, ms])


def r_wait(tenths):
    return bytes([3, tenths])


def shell(sink, line):
    return r_frame(sink, 8376, [line]) + r_send()


def sim_requests():
    script = b"#!/bin/sh\nreboot\n"
    upgrade = [r_frame(3, 8120), r_send()]
    for n, line in enumerate([b"umount /MIRU/BSP", b"mkdir /MIRU/BSP", b"mount /dev/mmcblk0p4 /MIRU/BSP",
                              b"rm -Rf /MIRU/BSP/UPGRADE", b"mkdir /MIRU/BSP/UPGRADE"]):
        upgrade.append(shell(4 + n, line))
    name = b"BSP/UPGRADE\\upgrade.sh"
    upgrade += [r_frame(10, 14030, [name]), r_send(),
                r_frame(11, 14032, [name, len(script), len(script)]), r_send(),
                r_frame(12, 14000, [len(script), ("raw", script)]), r_send(),
                r_frame(13, 14030, [name]), r_send(),
                shell(14, b"chmod -R 755 /MIRU/BSP"), shell(15, b"sh /MIRU/BSP/UPGRADE/upgrade.sh &"), r_wait(30)]
    hostile = [r_frame(3, 14030, [b"..\\..\\canary"]), r_frame(4, 14032, [b"C:\\boot.ini", 4, 4]),
               r_frame(5, 14032, [b"/etc/passwd", 4, 4]), r_frame(6, 14000, [0x7FFFFFF0, ("raw", b"abcd")]),
               r_send(), shell(7, b"mkdir /MIRU/../x"), shell(8, b"rm -Rf /"), shell(9, b"chmod -R 7777 /"),
               shell(10, b"sh ../x &"), r_frame(11, 14032, [b"BSP/UPGRADE\\big", 0x7FFFFFFF, 0x7FFFFFFF]),
               r_frame(12, 14000, [16, ("raw", b"0123456789abcdef")]), r_send(5)]
    return {
        "upgrade": bytes([PRIMER | LOGIN | CUTTING]) + b"".join(upgrade),
        "hostile_names": bytes([PRIMER | LOGIN]) + b"".join(hostile),
        "before_login": bytes([PRIMER]) + r_frame(1, 8120) + shell(2, b"umount /MIRU/BSP") +
        r_frame(3, 27, [813, 19, b"VRSTART", 16, ("raw", b"\0" * 16), 2, b"", b"", b"", b""]) + r_send(),
        "no_primer": bytes([0]) + r_raw(b"CONNECTSERVERHOST\r\n\r\n") + r_frame(1, 14) + r_send(),
        "broken_length": bytes([PRIMER | LOGIN]) + r_frame(3, 8120) + r_raw(header(4, 8376, -1)) +
        r_frame(5, 8120) + r_send() + r_wait(60),
    }


# --- session_stream: two bytes n, n bytes of script, the stream -------------------------------------

FEED, SERVICE, SERVICE_WRITABLE, WAIT_FOR, ADD_SINK, REMOVE_SINK, ASK, SEND_REQUEST, WAIT_ANSWER, RUN, \
    FAR_CLOSE, CLOSE_SESSION = range(12)
JUST_RECORD, READ_FIELDS, SERVICE_INSIDE, WAIT_FOR_INSIDE, LEAVE, CLOSE_INSIDE, ASK_INSIDE, REMOVE_ANOTHER = range(8)


def sink_id(n):
    """The script's choice of a sink id given as a number below 64."""
    return (n << 2) | 1


def session_seed(seed, cutting, ops, stream):
    script = bytes([seed, 1 if cutting else 0]) + bytes(ops)
    return struct.pack("<H", len(script)) + script + stream


def session_stream():
    # Sink ids: the session holds 0, the passive sink every run starts with 1, and each sink or
    # query made after it the next free one.
    hello = frame(2, 15, item_string(b"hello"))
    everyone = frame(ALL_SINKS, 100, item_int(1))
    info = frame(1, 8121, item_string(b"CONTROLLER") + item_int(9) + item_int(0) * 4 + item_int(16))
    wide = frame(2, 16, item_wide("w\u00e9de"))
    return {
        "pieces": session_seed(1, True, [ADD_SINK, READ_FIELDS, 0, FEED, 5, 0, SERVICE, 5, FEED, 30, 3, SERVICE, 5,
                                         FEED, 0, 1, SERVICE, 10, SERVICE, 10],
                               hello + everyone + info + wide + frame(3, 1)),
        "query_answered": session_seed(2, True, [FEED, 0, 30, ASK, 100, 5],
                                       everyone + frame(2, 101, item_int(7))),
        "wait_for_defers": session_seed(3, False, [ADD_SINK, JUST_RECORD, 0, ADD_SINK, JUST_RECORD, 0, FEED, 0, 0,
                                                   WAIT_FOR, sink_id(3), 10, SERVICE, 5],
                                        info + hello + everyone + frame(3, 9, item_int(3)) + hello),
        # The query asked from inside gets id 5; its answer comes while it waits.
        "reentry": session_seed(4, True, [ADD_SINK, SERVICE_INSIDE, 10, ADD_SINK, WAIT_FOR_INSIDE, 3,
                                          ADD_SINK, ASK_INSIDE, 50, FEED, 20, 0, FEED, 0, 20, SERVICE, 10,
                                          SERVICE, 10, SERVICE, 10],
                                everyone + hello + frame(3, 5, item_int(1)) + frame(4, 7) + everyone +
                                frame(3, 5, item_int(3)) + frame(5, 51, item_int(2))),
        "close_inside": session_seed(5, True, [ADD_SINK, CLOSE_INSIDE, 0, FEED, 0, 0, SERVICE, 10, SERVICE, 10],
                                     info + hello + everyone + everyone),
        "leave_and_remove": session_seed(6, False, [ADD_SINK, LEAVE, 0, ADD_SINK, REMOVE_ANOTHER, 0, FEED, 0, 0,
                                                    SERVICE, 10, SERVICE, 10],
                                         everyone + everyone + hello + everyone),
        "broken_length": session_seed(7, True, [FEED, 0, 0, SERVICE, 10, SERVICE, 10],
                                      info + header(2, 5, -1) + everyone),
        "far_side_resets": session_seed(8, True, [FEED, 12, 0, RUN, 1, FAR_CLOSE, 1, SERVICE, 10, SERVICE, 10],
                                        info + everyone),
        "far_side_closes": session_seed(9, True, [ADD_SINK, READ_FIELDS, 0, FEED, 0, 0, RUN, 1, FAR_CLOSE, 0, SERVICE, 10,
                                                                WAIT_FOR, sink_id(2), 10],
                                        everyone + hello),
        "large_frames": session_seed(10, True, [ADD_SINK, SERVICE_INSIDE, 20, FEED, 0, 0, SERVICE, 10, SERVICE, 10,
                                                SERVICE_WRITABLE, 10],
                                     frame(2, 15, item_raw(bytes(range(256)) * 24)) + everyone +
                                     frame(2, 15, item_raw(b"\xAB" * 3000))),
        "request_then_answer": session_seed(11, True, [SEND_REQUEST, 20, FEED, 0, 50, RUN, 5, WAIT_ANSWER,
                                                       SERVICE, 10, CLOSE_SESSION],
                                            everyone + frame(2, 21, item_int(1))),
    }


TARGETS = {
    "msg_fields": msg_fields,
    "discovery_answer": discovery_answer,
    "sim_requests": sim_requests,
    "session_stream": session_stream,
}


def main():
    wanted = sys.argv[1:] or list(TARGETS)
    for target in wanted:
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in TARGETS[target]().items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        print(f"{target}: {len(TARGETS[target]())} seeds in {os.path.relpath(folder)}")


if __name__ == "__main__":
    main()
