#!/usr/bin/env python3
"""Checks wireshark/zelkolink.lua through Debian's tshark, both passes (-2),
on captures written with zelkolink.capture and by zelkolink-dump --capture.

cross: for every upload frame of a capture, the dissector's values equal
zelkolink-dump's decode of the same capture, one byte per call
(--chunk 1). The dump prints the records after each byte that completed a
frame; the dissector shows each frame in the block whose bytes completed it.
So, block by block, the records after the dissector's frames must pass
through the dump's rows of that block in order, and end on its last one.
Captures: the sample capture in reads of 1 to 100 bytes and at every byte,
made-up streams (nested frames, stray start bytes with lengths no buffer
holds, short records, the largest frame, corrupt and skipped frames) in
reads and at every byte, and zelkolink-dump's captures of the simulator
sending each record kind with noise, corrupt frames and the echoed request,
with the request and stop frames the dump wrote.

view: what a user sees: the Info column, the noise, the request bytes, the
fields a corrupt frame lacks and its expert info, the interface's name.

extcap: zelkolink-dump as Wireshark's capture interface, captured through
tshark live."""
import bisect
import json
import os
import pathlib
import random
import struct
import subprocess
import sys

from tool_harness import Simulator, check, main, module_from_file, wait_for
from wire_models import port_frame as frame, request_frame, stop_frame

REQUEST, STOP = request_frame(), stop_frame()
NO_RECORDS = ((0,) * 9, (0,) * 32)


def record(kind, value, length=None):
    """An upload record of kind 0, 1 or 2 with every value set to value,
    cut to length bytes if given."""
    words = {0: [value] * 9, 1: [value] * 32, 2: [value] * 9}[kind]
    body = bytes([kind]) + struct.pack(f"<{len(words)}H", *words)
    if kind == 2:
        body += bytes(12) + struct.pack("<32H", *[value + 1] * 32)
    return body if length is None else (body + bytes(length))[:length]


def cut(stream, rng, largest):
    """The stream as reads of 1 to largest bytes."""
    reads, at = [], 0
    while at < len(stream):
        size = rng.randint(1, largest)
        reads.append(stream[at:at + size])
        at += size
    return reads


def timed(reads, direction="in", start=1700000000.0):
    return [(start + k * 0.001, direction, data) for k, data in enumerate(reads)]


def made_up_stream(rng, count):
    """Hand-made cases, then random frames, noise and nesting."""
    cases = [
        frame(0xA5, record(2, 1000)),
        frame(0xA5, record(2, 7, 495)),                    # the largest frame: 500 bytes
        frame(0xA5, record(2, 8, 496)), frame(0xA5, record(0, 9)),  # 501: its FA is a byte
        b"\xFA\x42\xFF\xFF" + frame(0xA5, record(1, 10)),  # a stray start byte, huge length
        frame(0x42, frame(0xA5, record(0, 11)) + frame(0x43, frame(0xA5, record(1, 12)))),
        frame(0x42, frame(0xA5, record(0, 13)), end=0x00),  # corrupt: nothing inside is read
        frame(0xE5, frame(0xA5, record(0, 14))),           # skipped whole, with what it holds
        frame(0xE4, frame(0xA5, record(2, 15))),           # stepped into, from the device
        frame(0xA5, b""), frame(0xA5, record(0, 16, 18)), frame(0xA5, record(1, 17, 64)),
        frame(0xA5, record(2, 18, 94)), frame(0xA5, bytes([3, 1, 2])),
        frame(0xA5, record(0, 19), end=0x5E), b"\x00\x13\xFA\x5F\x99",
    ]
    pieces = list(cases)
    for _ in range(count):
        roll = rng.random()
        kind = rng.choice([0, 1, 2, 2, 3])
        payload = record(kind, rng.randrange(2048)) if kind < 3 else bytes([3, rng.randrange(256)])
        if rng.random() < 0.15:
            payload = payload[:rng.randrange(len(payload) + 1)]
        end = 0x5F if rng.random() < 0.85 else rng.randrange(256)
        if roll < 0.55:
            pieces.append(frame(0xA5, payload, end))
        elif roll < 0.7:
            pieces.append(bytes(rng.choice([0xFA, 0x5F, 0xA5, rng.randrange(256)])
                                for _ in range(rng.randint(1, 6))))
        elif roll < 0.85:
            pieces.append(frame(rng.choice([0x42, 0xE5, 0xE4]), frame(0xA5, payload, end)
                                + bytes(rng.randrange(4)), rng.choice([0x5F, 0x5F, 0x00])))
        else:
            pieces.append(b"\xFA" + bytes([rng.randrange(256)]) + struct.pack(
                "<H", rng.randint(496, 0xFFFF)))
    return b"".join(pieces) + b"\xFA\xA5"  # ends inside a frame


def simulator_capture(tool, args, name, sim_args, rows):
    """zelkolink-dump's capture of the simulator: the request, the reads as
    they returned until `rows` rows were printed, and the stop."""
    path = tool.work / f"{name}.pcapng"
    with Simulator(args.sim, tool.work, name, *sim_args, "--rate", "2000") as device:
        run = tool.run("--port", device.path, "--capture", str(path), "--count", str(rows))
    check(run.status == 0, f"{name}: zelkolink-dump --capture: {run.status} {run.stderr!r}")
    return list(args.capture.read(path))


# ------------------------------------------------------------------ tshark

def tshark(args, path, *options):
    done = subprocess.run([args.tshark, "-X", f"lua_script:{args.dissector}", "-2", "-r", str(path),
                           *options], capture_output=True, timeout=600)
    errors = [line for line in done.stderr.decode().splitlines() if "Running as user" not in line]
    check(done.returncode == 0 and not errors, f"tshark on {path}: status {done.returncode}, {errors}")
    return done.stdout.decode()


def subtrees(pairs):
    """The frame subtrees below a JSON tree (objects as lists of pairs), in
    order, each as a dict from key to every value it has."""
    found = []
    for _, value in pairs:
        if isinstance(value, list) and value and isinstance(value[0], tuple):
            if any(key == "zelkolink.command" for key, _ in value):
                fields = {}
                for key, item in value:
                    fields.setdefault(key, []).append(item)
                found.append(fields)
            else:
                found += subtrees(value)
    return found


def dissect(args, path):
    """Per packet: its frames (dicts of fields) and its noise runs (hex)."""
    packets = []
    for packet in json.loads(tshark(args, path, "-T", "json"), object_pairs_hook=list):
        layers = dict(dict(dict(packet)["_source"])["layers"])
        tree = layers.get("zelkolink", [])
        tree = tree if isinstance(tree, list) else []  # a tree without items is its label
        packets.append((subtrees(tree), [value for key, value in tree if key == "zelkolink.noise"]))
    return packets


def is_upload(fields):
    corrupt = any(key == "zelkolink.expert.corrupt" for expert in fields.get("_ws.expert", [])
                  for key, _ in expert)
    return fields["zelkolink.command"] == ["0xa5"] and not corrupt


def after(records, fields):
    """The records after an upload frame, from the values the dissector shows."""
    inputs = [int(value) for value in fields.get("zelkolink.input", [])]
    channels = [int(value) for value in fields.get("zelkolink.channel", [])]
    check(len(inputs) in (0, 9) and len(channels) in (0, 32),
          f"a frame shows {len(inputs)} inputs and {len(channels)} channels")
    return (tuple(inputs) if inputs else records[0], tuple(channels) if channels else records[1])


# ------------------------------------------------------------------- cross

def reference_rows(tool, capture_path):
    """zelkolink-dump's decode of the capture, one byte per call: (offset,
    records), offsets counting the bytes read from the device."""
    run = tool.run("--chunk", "1", "--json", str(capture_path))
    check(run.status == 0 and run.stderr == "", f"zelkolink-dump: {run.status} {run.stderr}")
    rows = [json.loads(line) for line in run.stdout.splitlines()]
    return [(row["offset"], (tuple(row["inputs"]), tuple(row["channels"]))) for row in rows]


def cross_check(label, tool, args, blocks):
    path = tool.work / f"{label.replace(' ', '_')}.pcapng"
    args.capture.write(path, blocks, name="/dev/ttyUSB0", description="115200 8N1")
    inbound = [(k, data) for k, (_, direction, data) in enumerate(blocks) if direction == "in" and data]
    starts, at = [], 0  # where each inbound block starts in the inbound stream
    for _, data in inbound:
        starts.append(at)
        at += len(data)
    rows_of = {}
    for offset, records in reference_rows(tool, path):
        rows_of.setdefault(inbound[bisect.bisect_right(starts, offset - 1) - 1][0], []).append(records)

    packets = dissect(args, path)
    if not check(len(packets) == len(blocks), f"{label}: {len(packets)} packets, {len(blocks)} blocks"):
        return
    records, compared, rows_met = NO_RECORDS, 0, 0
    for k, ((frames, _), (_, direction, _)) in enumerate(zip(packets, blocks)):
        uploads = [fields for fields in frames if is_upload(fields)]
        if direction == "out":
            check(not uploads, f"{label}: block {k}, written by the host, shows upload frames")
            continue
        states = []
        for fields in uploads:
            records = after(records, fields)
            states.append(records)
        rows = rows_of.get(k, [])
        at = 0  # rows are met in order, each at or after the frame before
        for row in rows[:-1]:
            at = next((n + 1 for n in range(at, len(states)) if states[n] == row), None)
            if at is None:
                break
        met = at is not None and bool(rows) and at < len(states) and states[-1] == rows[-1]
        if not check(met or (not rows and not uploads),
                     f"{label}: block {k} (frame {k + 1}): the dissector's {len(uploads)} upload "
                     f"frames do not give the dump's {len(rows)} rows"):
            return
        compared += len(uploads)
        rows_met += len(rows)
    print(f"{label}: {len(blocks)} blocks, {compared} upload frames compared, "
          f"{rows_met} rows of zelkolink-dump met")
    check(compared > 0, f"{label}: no upload frame to compare")


def cross_group(tool, args):
    rng = random.Random(21)
    sample = args.sample.read_bytes()
    host = [(1699999999.0, "out", REQUEST)]
    cross_check("sample in reads", tool, args, host + timed(cut(sample, rng, 100)))
    cross_check("sample at every byte", tool, args, timed(cut(sample, rng, 1)))
    made_up = made_up_stream(rng, 300)
    cross_check("made-up stream in reads", tool, args, timed(cut(made_up, rng, 300)))
    cross_check("made-up stream at every byte", tool, args, timed(cut(made_up, rng, 1)))
    for kind, rows, faults in [("2", 300, ["--noise", "--corrupt", "0.3", "--echo"]),
                               ("0", 300, ["--noise"]), ("1", 200, ["--corrupt", "0.3"])]:
        label = f"simulator kind {kind}"
        blocks = simulator_capture(tool, args, label.replace(" ", "_"),
                                   ["--kind", kind, "--seed", "21" + kind, *faults], rows)
        cross_check(label, tool, args, blocks)


# -------------------------------------------------------------------- view

KIND2 = frame(0xA5, record(2, 100))
NESTED = frame(0x42, frame(0xA5, record(0, 5)))
VIEW = [  # direction, bytes, Info column, noise runs
    ("out", REQUEST, "request 01 00", []),
    ("in", REQUEST + b"\x00\x13", "skipped request from the device, noise 2 bytes", ["00:13"]),
    ("in", KIND2[:50], "frame continues (50 of 100 bytes)", []),
    ("in", KIND2[50:] + KIND2 + KIND2, "upload kind 2 x3", []),
    ("in", frame(0xA5, b"") + frame(0xA5, record(0, 1, 10)), "upload (empty), upload kind 0 (short)", []),
    ("in", frame(0xA5, record(0, 1), end=0x5E), "corrupt frame (end byte 5E)", []),
    ("in", b"\xFA\x01\xFF\x01" + frame(0xA5, bytes([7])), "noise 4 bytes, upload kind 7", ["fa:01:ff:01"]),
    ("in", NESTED[:-1], "frame continues (28 of 29 bytes)", []),
    ("in", NESTED[-1:], "noise 4 bytes, upload kind 0, noise 1 byte", ["fa:42:18:00", "5f"]),
    ("in", b"\x00\xFA\xA5\x13", "noise 1 byte, frame starts (3 bytes)", ["00"]),
    ("out", STOP, "stop", []),
]


def view_group(tool, args):
    path = tool.work / "view.pcapng"
    blocks = [(1700000000.0 + k, direction, data) for k, (direction, data, _, _) in enumerate(VIEW)]
    args.capture.write(path, blocks, name="COM3", description="115200 8N1")
    shown = [line.split("\t") for line in tshark(
        args, path, "-T", "fields", "-e", "frame.interface_name", "-e",
        "frame.interface_description", "-e", "_ws.col.Info").splitlines()]
    packets = dissect(args, path)
    for k, (direction, _, info, noise) in enumerate(VIEW):
        check(shown[k] == ["COM3", "115200 8N1", info], f"packet {k + 1}: shows {shown[k]}, not {info!r}")
        check(packets[k][1] == noise, f"packet {k + 1}: noise {packets[k][1]}, not {noise}")
    request = packets[0][0][0]
    check(request.get("zelkolink.request") == ["01:00"], f"request frame: {request}")
    corrupt = packets[5][0][0]
    check(not {"zelkolink.kind", "zelkolink.input", "zelkolink.channel"} & set(corrupt) and
          corrupt["zelkolink.length"] == ["19"] and not is_upload(corrupt),
          f"the corrupt frame shows {sorted(corrupt)}")
    kinds = [fields.get("zelkolink.kind") for fields in packets[3][0]]
    check(kinds == [["2"]] * 3 and all(len(f["zelkolink.channel"]) == 32 for f in packets[3][0]),
          f"the three kind 2 frames show kinds {kinds}")
    short = packets[4][0][1]
    check(short.get("zelkolink.kind") == ["0"] and "zelkolink.input" not in short,
          f"the short record shows {sorted(short)}")


# ------------------------------------------------------------------ extcap

def extcap_group(tool, args):
    """zelkolink-dump in Wireshark's personal extcap folder is a capture
    interface: tshark lists it, captures the simulator through it live and
    decodes what it captured."""
    home = tool.work / "home"
    extcap = home / ".config" / "wireshark" / "extcap"
    extcap.mkdir(parents=True)
    (extcap / "zelkolink").symlink_to(tool.command[-1])
    env = dict(os.environ, HOME=str(home))
    dlts = tool.run("--extcap-interface", "zelkolink", "--extcap-dlts")
    check("dlt {number=147}" in dlts.stdout, f"--extcap-dlts: {dlts.stdout!r}")
    listed = subprocess.run([args.tshark, "-D"], capture_output=True, env=env, timeout=120)
    check(b"zelkolink (ZelkoLink device port link)" in listed.stdout,
          f"tshark -D does not list the interface: {listed.stdout.decode()[-300:]}")
    path = tool.work / "extcap.pcapng"
    with Simulator(args.sim, tool.work, "extcap", "--rate", "200") as device:
        done = subprocess.run([args.tshark, "-i", "zelkolink", "-o",
                               f"extcap.zelkolink.port:{device.path}", "-a", "duration:2", "-w",
                               str(path)], capture_output=True, env=env, timeout=120)
        check(done.returncode == 0, f"tshark -i zelkolink: {done.returncode} {done.stderr.decode()}")
        check(wait_for(lambda: device.saw("stop")), "the device got no stop frame from the extcap")
    infos = tshark(args, path, "-T", "fields", "-e", "_ws.col.Info").splitlines()
    check(infos[:1] == ["request 01 00"] and infos.count("upload kind 2") > 100,
          f"the live capture shows {infos[:3]}... ({len(infos)} packets)")


def extra_arguments(parser):
    parser.add_argument("--sim", required=True)
    parser.add_argument("--tshark", required=True)
    parser.add_argument("--dissector", required=True)
    parser.add_argument("--capture-module", required=True, dest="capture",
                        type=module_from_file, help="bindings/python/zelkolink/capture.py")
    parser.add_argument("--sample", required=True, type=pathlib.Path)


if __name__ == "__main__":
    sys.exit(main(__doc__, {"cross": cross_group, "view": view_group, "extcap": extcap_group},
                  "zelkolink-dump",
                  extra_arguments))
