"""The port link through the binding: frames marshalled back as bytes, reads
of any length and type handed to the parser in pieces, and the lock that
keeps threads from meeting inside the one native parser."""
import array
import struct
import sys
import threading
from pathlib import Path

import pytest

import zelkolink

SAMPLE = Path(__file__).resolve().parents[3] / "examples" / "sample_port_stream.bin"


def kind2_frame(value: int) -> bytes:
    """An upload frame whose record sets every input and channel to value."""
    record = bytes([2]) + struct.pack("<9H", *[value] * 9) + bytes(12) + struct.pack("<32H", *[value] * 32)
    return bytes([0xFA, 0xA5]) + struct.pack("<H", len(record)) + record + bytes([0x5F])


def feed_in_reads(data: bytes, read: int) -> bool:
    completed = False
    for offset in range(0, len(data), read):
        completed |= zelkolink.port_parser.feed(data[offset:offset + read])
    return completed


@pytest.mark.parametrize("arguments, expected", [
    ((), "fa e5 02 00 00 00 5f"),
    ((0xFF, 0x80), "fa e5 02 00 ff 80 5f"),
])
def test_request_frame(arguments, expected):
    assert zelkolink.request_frame(*arguments).hex(" ") == expected


@pytest.mark.parametrize("byte0, byte1, name", [(256, 0, "byte0"), (0, -1, "byte1")])
def test_request_frame_refuses_what_is_not_a_byte(byte0, byte1, name):
    with pytest.raises(ValueError, match=f"{name} must be a byte, 0..255"):
        zelkolink.request_frame(byte0, byte1)


def test_stop_frame():
    assert zelkolink.stop_frame() == bytes.fromhex("FA E4 00 00 5F")


@pytest.mark.parametrize("read", [1, 254, 255, 256, 4096, 1 << 20])
def test_reads_of_any_length_give_the_same_records(read):
    stream = SAMPLE.read_bytes() * 6 + kind2_frame(0x1234)
    assert len(stream) > 4096
    zelkolink.port_parser.feed(kind2_frame(0))  # known records to start from
    assert feed_in_reads(stream, read)
    assert zelkolink.port_parser.inputs == (0x1234,) * 9
    assert zelkolink.port_parser.channels == (0x1234,) * 32


@pytest.mark.parametrize("make", [
    bytes, bytearray, memoryview,
    lambda data: memoryview(b"\x00" * 7 + data)[7:],
    lambda data: array.array("B", data),
    lambda data: array.array("H", data),  # 100 bytes: fifty 16-bit items, the same bytes
])
def test_any_bytes_like_object_is_fed(make):
    zelkolink.port_parser.feed(kind2_frame(0))
    assert zelkolink.port_parser.feed(make(kind2_frame(0x0777)))
    assert zelkolink.port_parser.inputs == (0x0777,) * 9


@pytest.mark.parametrize("data", [b"", bytearray(), memoryview(b"")])
def test_an_empty_read_completes_nothing(data):
    assert zelkolink.port_parser.feed(data) is False


def test_a_partial_frame_reports_nothing_until_its_end():
    frame = kind2_frame(0x0042)
    assert zelkolink.port_parser.feed(frame[:-1]) is False
    assert zelkolink.port_parser.feed(frame[-1:]) is True


def test_records_are_snapshots():
    zelkolink.port_parser.feed(kind2_frame(5))
    inputs, channels = zelkolink.port_parser.inputs, zelkolink.port_parser.channels
    assert isinstance(inputs, tuple) and len(inputs) == 9
    assert isinstance(channels, tuple) and len(channels) == 32
    zelkolink.port_parser.feed(kind2_frame(6))
    assert inputs == (5,) * 9


def test_a_second_parser_is_refused():
    with pytest.raises(RuntimeError, match="one process-wide port parser: use zelkolink.port_parser"):
        zelkolink.PortParser()


def test_concurrent_feeds_stay_whole():
    """Each read holds a frame that straddles a 255-byte piece boundary, with
    values of its own thread. Pieces of different threads interleaved in the
    parser would break frames; with the lock every feed completes its frame
    and the records end as one whole frame's values."""
    threads, rounds = 4, 2000
    start = threading.Barrier(threads)
    failed = []
    switch_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # hand the GIL over as often as possible

    def feeder(value: int) -> None:
        data = bytes(200) + kind2_frame(value)
        start.wait()
        failed.append(sum(not zelkolink.port_parser.feed(data) for _ in range(rounds)))

    workers = [threading.Thread(target=feeder, args=(0x100 * (n + 1),)) for n in range(threads)]
    try:
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
    finally:
        sys.setswitchinterval(switch_interval)
    assert failed == [0] * threads
    inputs, channels = zelkolink.port_parser.inputs, zelkolink.port_parser.channels
    assert len(set(inputs + channels)) == 1 and inputs[0] in {0x100, 0x200, 0x300, 0x400}


@pytest.mark.parametrize("length", [0, 3, 95, 495])
def test_reset_leaves_nothing_of_a_cut_connection(length):
    """A connection cut at every point of a frame full of start bytes, a
    reset, and the next connection's frame: exactly its values."""
    payload = bytes([0xFA, 0x07] * length)[:length]
    old = bytes([0xFA, 0xA5]) + struct.pack("<H", length) + payload + bytes([0x5F])
    for cut in range(len(old)):
        zelkolink.port_parser.reset()
        zelkolink.port_parser.feed(kind2_frame(0x0101))  # known records to start from
        zelkolink.port_parser.feed(old[:cut])
        zelkolink.port_parser.reset()
        assert zelkolink.port_parser.inputs == (0x0101,) * 9
        assert zelkolink.port_parser.feed(kind2_frame(0x0456)), f"cut at {cut}"
        assert zelkolink.port_parser.inputs == (0x0456,) * 9, f"cut at {cut}"
        assert zelkolink.port_parser.channels == (0x0456,) * 32, f"cut at {cut}"
