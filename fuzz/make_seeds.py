#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/seeds/<target>/ (run from anywhere).

The seeds are the worked frames, records and files of the protocol, in the
input layout each target reads. Rerun after changing a layout; the files are
kept in the tree so the fuzzers need nothing but themselves.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = os.path.join(HERE, "seeds")


def reply(code, payload, tag=0):
    n = len(payload) + 8
    f = bytearray([0x02, n >> 8, n & 0xFF, 0xEE, tag, code]) + bytes(payload)
    x = 0
    for b in f[1:]:
        x ^= b
    return bytes(f + bytes([x, 0x03]))


DISCOVERY = bytes.fromhex("02000AEE00210C04CD03")
RAW = bytes.fromhex("02001CEE0040") + bytes.fromhex("0064") * 10 + bytes.fromhex("B203")
READBACK = reply(0x32, bytes.fromhex("000003E801000000" "03E8") * 10)
RECORD = b"N12,-3,450\r\n"
assert reply(0x21, bytes([0x0C, 0x04])) == DISCOVERY
assert reply(0x40, bytes.fromhex("0064") * 10) == RAW
assert len(READBACK) == 108


def receiver_input(steps):
    """steps: byte strings to feed, ("reply", code, payload, chunk) for a
    valid reply built by the target and fed in chunks, ("repeat", bytes,
    times) for one chunk fed 1..64 times, or ("giveup",).

    FuzzedDataProvider takes the control bytes from the end (one per step,
    then the step's own) and the fed bytes from the front."""
    front = bytearray()
    controls = []
    for s in steps:
        if isinstance(s, tuple) and s[0] == "reply":
            controls += [253, s[1], len(s[2]) - 1, s[3] - 1]
            front += s[2]
        elif isinstance(s, tuple) and s[0] == "repeat":
            controls += [254, len(s[1]), s[2] - 1]
            front += s[1]
        elif isinstance(s, tuple) and s[0] == "giveup":
            controls.append(255)
        else:
            assert len(s) < 253
            controls.append(len(s))
            front += s
    return bytes(front) + bytes(reversed(controls))


def fdp_texts(texts):
    """Six texts the way ConsumeRandomLengthString splits them."""
    parts = [t.encode("utf-8").replace(b"\\", b"\\\\") for t in texts]
    return b"\\|".join(parts)


def rtx_file(rows, quoted=True, tail=b"\r\n", lead=b""):
    widths = [5, 5, 1, 5, 5, 5]
    rec = ""
    for row in rows:
        for text, w in zip(row, widths):
            rec += text[:w].ljust(w)
    assert len(rec) == 260
    body = rec.encode("gbk")
    return lead + (b'"' + body + b'"' if quoted else body) + tail


START = ["0", "1000", "1", "固定关", "0", "1000"]

seeds = {
    "fuzz_receiver": {
        "discovery": receiver_input([DISCOVERY]),
        "discovery_split": receiver_input([DISCOVERY[:3], DISCOVERY[3:]]),
        "raw": receiver_input([RAW]),
        "raw_split": receiver_input([RAW[:1], RAW[1:]]),
        "readback": receiver_input([READBACK[:64], READBACK[64:]]),
        "record": receiver_input([RECORD]),
        "two_replies": receiver_input([DISCOVERY + RAW]),
        "garbage_then_reply": receiver_input([b"\x11\x02\x00\x03" + RAW]),
        "torn_given_up": receiver_input([RAW[:10], ("giveup",), RAW]),
        "built_reply": receiver_input([b"\x55", ("reply", 0x40, RAW[6:26], 3)]),
        "overflow": receiver_input([("repeat", RAW, 40)]),
    },
    "fuzz_record": {
        "record": RECORD,
        "double_comma": b"N1,,2\r\n",
        "empty": b"N\r\n",
        "two_records": RECORD + b"N7,8\r\n",
        "trailing_comma": b"N1,\r\n",
        "not_a_record": b"X12\r\n",
        "no_crlf": b"N12,-3,450",
        "stream": b"N1,2\r\nN3,4\r\n" + b"#N5\r\n" + b"N6,7,8,9\r\n",
    },
    "fuzz_rtx": {
        "start_table": rtx_file([START] * 10),
        "full_fields": rtx_file([["-3276", "32767", "3", "范围外", "-1", "12345"]] * 10),
        "mixed": rtx_file([["%d" % -i, "%d" % (i * 100), "%d" % (i % 4),
                            ["固定关", "固定开", "大于", "小于", "等于", "范围内", "范围外"][i % 7],
                            "1.5", "&H7F"] for i in range(10)]),
        "unquoted": rtx_file([START] * 9 + [START[:5] + ["12345"]], quoted=False,
                             tail=b",next\r\n"),
        "unquoted_trailing_blank": rtx_file([START] * 10, quoted=False, tail=b"\r\n"),
        "leading_blanks": rtx_file([START] * 10, lead=b" \t"),
        "no_line_end": rtx_file([START] * 10, tail=b""),
        "short_record": rtx_file([START] * 10)[:-4] + b'"\r\n',
        "lone_lead_byte": rtx_file([START] * 10)[:-3] + b'\xb9"\r\n',
    },
}

numbers = ["12-3", "", "-", " 1 2 ", "2.5", "3.5", "&H7F", "&O17", "1e3", "1e309",
           "-32768", "&HFFFFFFFF", "-2147483648", "2147483647.5", "-2147483648.5",
           "32767.5", "-32767.5", "1d2", ".5e-400"]
seeds["fuzz_number"] = {"start_row": fdp_texts(START)}
for i, s in enumerate(numbers):
    seeds["fuzz_number"]["n%02d_a" % i] = fdp_texts([s, "1000", "1", "固定关", s, s])
    seeds["fuzz_number"]["n%02d_b" % i] = fdp_texts(["0", s, s, "大于", "0", s])

for target, files in seeds.items():
    d = os.path.join(SEEDS, target)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    for name, data in files.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    print("%-14s %d seeds" % (target, len(files)))
