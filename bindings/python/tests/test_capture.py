"""zelkolink.capture: captures written and read back, sections of either byte
order and time resolution built here block by block, and every file it
refuses or reads only in part."""
import struct
import warnings

import pytest

from zelkolink import capture


def block(order, kind, body):
    body += bytes(-len(body) % 4)
    return struct.pack(order + "II", kind, len(body) + 12) + body + struct.pack(order + "I", len(body) + 12)


def option(order, code, value):
    return struct.pack(order + "HH", code, len(value)) + value + bytes(-len(value) % 4)


def shb(order="<", major=1):
    return block(order, 0x0A0D0D0A, struct.pack(order + "IHHq", 0x1A2B3C4D, major, 0, -1))


def idb(order="<", link=147, snap=0, options=b""):
    return block(order, 1, struct.pack(order + "HHI", link, 0, snap) + options)


def epb(order="<", interface=0, stamp=0, data=b"", flags=None, original=None):
    options = option(order, 2, struct.pack(order + "I", flags)) if flags is not None else b""
    return block(order, 6, struct.pack(order + "5I", interface, stamp >> 32, stamp & 0xFFFFFFFF,
                                       len(data), len(data) if original is None else original)
                 + data + bytes(-len(data) % 4) + options)


BLOCKS = [(1700000000.25, "out", bytes.fromhex("FA E5 02 00 01 00 5F")),
          (1700000000.5, "in", b""), (1700000000.500001, "in", b"\xFA"),
          (1700000001.0, "in", bytes(range(256)) * 3), (1700000002.0, "out", b"\x5F\x00\x00\x00\x01")]


def test_written_blocks_read_back(tmp_path):
    path = tmp_path / "round.pcapng"
    assert capture.write(path, iter(BLOCKS), name="/dev/ttyUSB0", description="115200 8N1") == 5
    read = list(capture.read(path))
    assert [(direction, data) for _, direction, data in read] == [b[1:] for b in BLOCKS]
    assert [round(seconds, 6) for seconds, _, _ in read] == [b[0] for b in BLOCKS]
    assert b"/dev/ttyUSB0" in path.read_bytes() and b"115200 8N1" in path.read_bytes()


@pytest.mark.parametrize("order", ["<", ">"])
def test_sections_of_either_order_resolution_and_direction(tmp_path, order):
    other = ">" if order == "<" else "<"
    nanoseconds = option(order, 9, b"\x09") + option(order, 0, b"")
    power_of_two = option(other, 9, b"\x94") + option(other, 14, struct.pack(other + "q", 100))
    path = tmp_path / "sections.pcapng"
    path.write_bytes(
        shb(order) + idb(order) + idb(order, options=nanoseconds)
        + block(order, 0x0BAD, b"unknown block, skipped") + block(order, 4, bytes(8))
        + epb(order, 0, 2_500_000, b"a", flags=1) + epb(order, 1, 1_500_000_000, b"bc", flags=2)
        + epb(order, 0, 0, b"d") + epb(order, 0, 0, b"e", flags=0x30003)
        # A new section of the other order: its interface 0 has a time
        # resolution of 2^-20 s and an offset of 100 s.
        + shb(other) + idb(other, options=power_of_two) + epb(other, 0, 3 << 20, b"f", flags=2))
    assert list(capture.read(path)) == [(2.5, "in", b"a"), (1.5, "out", b"bc"), (0.0, "in", b"d"),
                                        (0.0, "in", b"e"), (103.0, "out", b"f")]


REFUSED = [
    (b"", "empty file, not a capture"),
    (bytes.fromhex("FA A5 13 00"), "not a pcapng capture (it starts with fa a5 13 00)"),
    (b"\x0a\x0d", "not a pcapng capture"),
    (shb() + idb(link=1), "interface 0 has link type 1, not 147 (LINKTYPE_USER0)"),
    (shb() + idb() + idb(link=148), "interface 1 has link type 148"),
    (shb() + struct.pack("<II", 6, 0) + bytes(8), "block at byte 28 has length 0"),
    (shb() + struct.pack("<II", 6, 26) + bytes(24), "block at byte 28 has length 26"),
    (shb() + struct.pack("<II", 6, 8) + bytes(8), "block at byte 28 has length 8"),
    (shb() + idb() + epb(interface=1), "belongs to interface 1, which was never described"),
    (shb() + idb() + shb() + epb(), "belongs to interface 0, which was never described"),
    (shb(major=2), "section at byte 0 is pcapng version 2.0"),
    (b"\x0a\x0d\x0d\x0a" + bytes(24), "section at byte 0 has no byte-order magic"),
    (shb() + idb()[:-4] + struct.pack("<I", 24), "block at byte 28 ends with a length other"),
    (shb() + idb() + epb(data=b"x")[:20] + struct.pack("<I", 9) + epb(data=b"x")[24:],
     "packet block at byte 48 claims 9 bytes"),
    (shb() + idb(options=struct.pack("<HH", 2, 40)), "an option of the block at byte 28 runs past"),
]


@pytest.mark.parametrize("content, message", REFUSED, ids=[message for _, message in REFUSED])
def test_files_it_refuses(tmp_path, content, message):
    path = tmp_path / "bad.pcapng"
    path.write_bytes(content)
    with pytest.raises(capture.CaptureError) as raised:
        list(capture.read(path))
    assert str(raised.value).startswith(f"{path}: ") and message in str(raised.value)
    assert "\n" not in str(raised.value) and isinstance(raised.value, ValueError)


GOOD = shb() + idb() + epb(data=b"one", flags=1) + epb(data=b"two", flags=1)


PARTS = [
    (GOOD[:-3], [b"one"], "the capture ends inside a block at byte 92"),
    (GOOD + struct.pack("<II", 6, 64), [b"one", b"two"], "the capture ends inside a block at byte 136"),
    (GOOD[:30], [], "the capture ends inside a block at byte 28"),
    (GOOD[:10], [], "the capture ends inside a block at byte 0"),
    (shb() + idb(snap=2) + epb(data=b"one") + epb(data=b"two"), [b"one", b"two"],
     "packet block at byte 48 holds 3 bytes, more than the interface's snap length of 2; "
     "the bytes that exist are used"),
    (shb() + idb() + epb(data=b"on", original=3) + epb(data=b"tw", original=3), [b"on", b"tw"],
     "packet block at byte 48 holds 2 of its 3 bytes; the bytes that exist are used"),
]


@pytest.mark.parametrize("content, packets, message", PARTS, ids=[m for _, _, m in PARTS])
def test_files_read_in_part_warn_once(tmp_path, content, packets, message):
    path = tmp_path / "part.pcapng"
    path.write_bytes(content)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert [data for _, _, data in capture.read(path)] == packets
    assert [(w.category, str(w.message)) for w in caught] == [
        (capture.CaptureWarning, f"{path}: {message}")]


@pytest.mark.parametrize("block, message", [
    ((1.0, "both", b""), "direction must be 'in' or 'out', got 'both'"),
    ((-1.0, "in", b""), "seconds must be a time since 1970, got -1.0"),
    ((float("nan"), "in", b""), "seconds must be a time since 1970, got nan"),
])
def test_write_refuses_what_it_cannot_write(tmp_path, block, message):
    with pytest.raises(ValueError, match=message):
        capture.write(tmp_path / "refused.pcapng", [(0.0, "in", b"kept"), block])
    assert [data for _, _, data in capture.read(tmp_path / "refused.pcapng")] == [b"kept"]
