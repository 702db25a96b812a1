#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

Each seed is a well-formed example of what its target takes, so the fuzzers
start from inputs that reach the decoders rather than from noise. The output
is deterministic; rerun after changing a seed and commit the result.
"""
import importlib.util
import os
import shutil
import struct
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def le16s(values):
    return b"".join(struct.pack("<H", v & 0xFFFF) for v in values)


def frame(command, payload, end=0x5F):
    return bytes([0xFA, command]) + struct.pack("<H", len(payload)) + payload + bytes([end])


def upload(record):
    return frame(0xA5, record)


def kind0(first):
    return bytes([0]) + le16s(range(first, first + 9))


def kind1(first):
    return bytes([1]) + le16s(first + 0x0101 * k for k in range(32))


def kind2(first):
    return bytes([2]) + le16s(range(first, first + 9)) + bytes(range(0xC0, 0xCC)) + \
        le16s(first + 0x0101 * k for k in range(32))


def port_input(options, cuts, stream):
    """Option bits: 1 null inputs, 2 null channels, 4 empty calls."""
    return bytes([options, len(cuts)]) + bytes(cuts) + stream


def port_stream_seeds():
    mixed = upload(kind0(1)) + upload(kind1(0x0100)) + upload(kind2(0x1234))
    nested = frame(0x42, upload(kind0(7)))
    longest = upload(kind1(0x0A0B) + b"\x5f" * (495 - 65))
    return {
        "kinds_whole": port_input(0, [], mixed),
        "kinds_byte_by_byte": port_input(0, [1], mixed),
        "kinds_uneven_cuts": port_input(0, [3, 250, 17, 1, 64], mixed),
        "nested_and_skipped": port_input(4, [7, 2], frame(0xE5, upload(kind0(3))) + nested),
        "bad_end_and_stray_starts": port_input(
            0, [5], frame(0x42, upload(kind0(9)), end=0) + bytes([0xFA, 0, 0xFF, 0xFF]) +
            bytes([0xFA, 0x00, 0xF0, 0x01]) + upload(kind2(0x55))),
        "short_records": port_input(
            3, [0, 9], upload(kind0(1)[:18]) + upload(kind1(2)[:64]) + upload(kind2(3)[:94]) +
            upload(b"")),
        "longest_frame": port_input(0, [245, 0], longest + upload(kind0(0x300))),
        "inputs_only": port_input(2, [31], upload(kind2(0x99)) + upload(kind1(0x77))),
    }


def controller_seeds():
    report = bytes([0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0x21, 0x43, 0x65,
                    0x87, 0xA9, 0xCB, 0xED, 0xFE, 0x11, 0x22, 0x33, 0x44, 0x55])
    return {"report": report, "all_ones": b"\xff" * 19, "short": report[:18], "long": report + b"\0"}


def compatible_seeds():
    report = bytes([0xFA, 0x01, 0x02, 0x03]) + le16s(range(0x1234, 0x123D)) + b"\x5f"
    return {"report": report, "wrong_start": b"\x00" + report[1:], "short": report[:22],
            "long": report + b"\0"}


def sbus_encode_seeds():
    mid = le16s([1024] * 16)
    return {
        "v1_then_v2": mid + b"\x0f",
        "limits": le16s([0, 2047, 2048, 65535] * 4) + b"\x0f" + bytes([0, 1, 1, 1, 1]),
        "nulls_between": le16s(range(0, 16 * 128, 128)) + b"\xa5" + bytes([1, 3, 5, 1, 2, 4, 0]),
        "alternating_bits": le16s([0x555, 0x2AA] * 8) + b"\x00" + bytes([7, 6]),
    }


def sbus_convert_seeds():
    return {
        "range_ends": le16s([0, 1, 100, 1199, 1200, 1201, 1202, 65535] * 2),
        "steps": le16s(range(0, 1600, 100)),
        "two_groups": le16s(range(1000, 1032)),
        "short": le16s([600, 1200]),
    }


def pcapng_reader_seeds():
    """Captures as zelkolink.capture writes them: the sample's frames in
    reads both ways, one cut short, and one with a block of an unknown type."""
    found = importlib.util.spec_from_file_location(
        "capture", os.path.join(HERE, "..", "bindings", "python", "zelkolink", "capture.py"))
    capture = importlib.util.module_from_spec(found)
    found.loader.exec_module(capture)
    stream = upload(kind0(1)) + bytes([0, 0xFA]) + upload(kind2(0x1234)) + upload(kind1(9))
    blocks = [(1700000000.0, "out", frame(0xE5, b"\x01\x00"))]
    blocks += [(1700000000 + 0.001 * (k + 1), "in", stream[k:k + 37])
               for k in range(0, len(stream), 37)]
    blocks.append((1700000001.0, "out", frame(0xE4, b"")))
    seeds = {}
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "seed.pcapng")
        capture.write(path, blocks, name="/dev/ttyUSB0", description="115200 8N1")
        with open(path, "rb") as made:
            seeds["reads_both_ways"] = made.read()
    whole = seeds["reads_both_ways"]
    seeds["cut_short"] = whole[:-11]
    last = len(whole) - struct.unpack_from("<I", whole, len(whole) - 4)[0]
    unknown = struct.pack("<II", 0x0BAD, 20) + b"\xee" * 8 + struct.pack("<I", 20)
    seeds["unknown_block"] = whole[:last] + unknown + whole[last:]
    return seeds


def command_frames_seeds():
    return {"ordinary": bytes([0x01, 0x02, 0xCC]), "frame_bytes": bytes([0xFA, 0x5F, 0x00]),
            "empty": b""}


TARGETS = {
    "port_stream": port_stream_seeds,
    "hid_game_controller": controller_seeds,
    "hid_compatible": compatible_seeds,
    "sbus_encode": sbus_encode_seeds,
    "sbus_convert": sbus_convert_seeds,
    "command_frames": command_frames_seeds,
    "pcapng_reader": pcapng_reader_seeds,
}


def main():
    for target, seeds in TARGETS.items():
        folder = os.path.join(HERE, "corpus", target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, data in seeds().items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
