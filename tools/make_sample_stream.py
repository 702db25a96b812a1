#!/usr/bin/env python3
"""Writes examples/sample_port_stream.bin: a short port capture as a device
would send it after an upload request. It holds upload records of each kind,
an echoed request frame, a frame nested in another command, a record of an
unknown kind, a frame with a wrong end byte, and noise with stray 0xFA bytes.
Beside it, examples/sample_port_stream.pcapng holds the same bytes as a
capture: the host's request, the stream in reads of 37 bytes 40 ms apart,
and the stop frame. The output is deterministic, so the committed files can
be regenerated and compared byte for byte."""
import importlib.util
import pathlib
import random
import struct
import sys

START, END = 0xFA, 0x5F
UPLOAD_DATA, UPLOAD_REQUEST = 0xA5, 0xE5


def frame(command, payload, end=END):
    return bytes([START, command]) + struct.pack("<H", len(payload)) + payload + bytes([end])


def kind0(inputs):
    return bytes([0]) + struct.pack("<9H", *inputs)


def kind1(channels):
    return bytes([1]) + struct.pack("<32H", *channels)


def kind2(inputs, channels):
    return bytes([2]) + struct.pack("<9H", *inputs) + bytes(12) + struct.pack("<32H", *channels)


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                       pathlib.Path(__file__).resolve().parent.parent / "examples" / "sample_port_stream.bin")
    rng = random.Random(2026)
    noise = bytes([0x00, 0x13, START, 0x42, 0x5F, 0x99])  # a stray start byte among them
    stream = bytearray(noise)
    stream += frame(UPLOAD_REQUEST, bytes([0x01, 0x02]))  # the host's request echoed back
    for step in range(6):
        inputs = [1000 + 100 * step + k for k in range(9)]
        channels = [(1024 + 37 * step * (k + 1)) % 2048 for k in range(32)]
        stream += frame(UPLOAD_DATA, kind2(inputs, channels))
        if step == 1:
            stream += frame(UPLOAD_DATA, kind0([7, 8, 9, 10, 11, 12, 13, 14, 15]))
        if step == 2:
            stream += frame(UPLOAD_DATA, kind1([2047 - 10 * k for k in range(32)]))
        if step == 3:
            stream += frame(0x42, frame(UPLOAD_DATA, kind0([0x4242] * 9)))  # nested in another command
            stream += frame(UPLOAD_DATA, bytes([3, 1, 2, 3]))  # a kind nobody reads
        if step == 4:
            stream += frame(UPLOAD_DATA, kind0([0xDEAD] * 9), end=0x00)  # wrong end byte: skipped
            stream += bytes(rng.randrange(256) for _ in range(20))
    out.write_bytes(bytes(stream))
    print(f"wrote {len(stream)} bytes to {out}")

    root = pathlib.Path(__file__).resolve().parent.parent
    found = importlib.util.spec_from_file_location(
        "capture", root / "bindings" / "python" / "zelkolink" / "capture.py")
    capture = importlib.util.module_from_spec(found)
    found.loader.exec_module(capture)
    start = 1767225600.0  # 2026-01-01, any fixed time
    blocks = [(start, "out", frame(UPLOAD_REQUEST, bytes([0x01, 0x02])))]
    for k, at in enumerate(range(0, len(stream), 37)):
        blocks.append((start + 0.040 * (k + 1), "in", bytes(stream[at:at + 37])))
    blocks.append((blocks[-1][0] + 0.040, "out", frame(0xE4, b"")))
    pcapng = out.with_suffix(".pcapng")
    capture.write(pcapng, blocks, name="sample", description="115200 8N1")
    print(f"wrote {len(blocks)} blocks to {pcapng}")


if __name__ == "__main__":
    main()
