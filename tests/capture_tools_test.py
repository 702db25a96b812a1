#!/usr/bin/env python3
"""Captures end to end: zelkolink-dump --capture and zelkolink-bridge
--capture against zelkolink-sim, the capture decoded and summarised by
zelkolink-dump, replayed by zelkolink-sim --replay and captured again, and
read by the Python package's zelkolink.capture throughout.

The simulator's --record file holds every byte it sent, so a capture's
reads from the device must add up to it exactly, and a capture replayed and
captured again must hold the same bytes.

Groups: record (what a capture holds, and what the dump makes of it),
failures (captures that cannot be made or written, files that are not
captures), replay (zelkolink-sim --replay and its options), bridge
(zelkolink-bridge --capture)."""
import json
import signal
import struct
import sys
import time

from tool_harness import (Pty, Simulator, Tool, check, expect_failure, main, module_from_file,
                          one_error_line, wait_for)
from wire_models import request_frame, stop_frame

REQUEST, STOP = request_frame(), stop_frame()


def inbound(capture, path):
    return b"".join(data for _, direction, data in capture.read(path) if direction == "in")


def rows(tool, *args):
    run = tool.run("--json", *args)
    check(run.status == 0, f"{args}: status {run.status}, {run.stderr!r}")
    return [json.loads(line) for line in run.stdout.splitlines()]


def captured_run(tool, sim, path, *more):
    """zelkolink-dump --port on the simulator, capturing to path."""
    run = tool.run("--port", sim.path, "--capture", str(path), "--json", *more)
    check(run.status == 0, f"capture run: status {run.status}, {run.stderr!r}")
    return [json.loads(line) for line in run.stdout.splitlines()]


# ------------------------------------------------------------------ groups

def record_group(tool, args):
    """A capture of a noisy device holds every read and write in order, and
    decodes to the very rows the live run printed."""
    capture = args.capture
    path = tool.work / "noisy.pcapng"
    with Simulator(args.sim, tool.work, "noisy", "--rate", "500", "--noise", "--corrupt", "0.2",
                   "--echo") as sim:
        live = captured_run(tool, sim, path, "--count", "200")
        check(wait_for(lambda: sim.saw("stop")), "the device got no stop frame")
    blocks = list(capture.read(path))
    times = [seconds for seconds, _, _ in blocks]
    check(times == sorted(times) and abs(times[0] - time.time()) < 60,
          f"block times {times[:3]}... are not the run's, in order")
    check([b for b in blocks if b[1] == "out"] == [b for b in blocks if b[2] in (REQUEST, STOP)] and
          blocks[0][1:] == ("out", REQUEST) and blocks[-1][1:] == ("out", STOP),
          "the request and the stop frame are not the first and last blocks, the only ones out")
    check(inbound(capture, path) == sim.record.read_bytes(),
          "the reads in the capture do not add up to what the device sent")

    # Decoded read by read, the capture gives the live rows (their times aside).
    decoded = rows(tool, str(path))
    check([(r["offset"], r["inputs"], r["channels"]) for r in decoded] ==
          [(r["offset"], r["inputs"], r["channels"]) for r in live],
          f"{len(decoded)} rows decoded from the capture differ from the {len(live)} live rows")
    ends, at = {}, 0  # a read's end in the stream of reads in, to its time
    for seconds, direction, data in blocks:
        at += len(data) if direction == "in" else 0
        ends[at] = seconds - blocks[0][0]
    check(all(abs(r["time"] - ends[r["offset"]]) < 0.0006 for r in decoded),
          "a decoded row's time is not its read's, from the first block")
    # Cut one byte at a time, the capture and the raw record decode alike.
    check(rows(tool, "--chunk", "1", str(path)) and
          [r["offset"] for r in rows(tool, "--chunk", "1", str(path))] ==
          [r["offset"] for r in rows(tool, "--chunk", "1", str(sim.record))],
          "--chunk 1 cuts the capture differently from the raw record")

    stats = json.loads(tool.run("--stats", "--json", str(path)).stdout)
    frames = len(rows(tool, "--chunk", "1", str(sim.record)))
    check(set(stats) >= {"duration_s", "reads_in", "bytes_in", "reads_out", "bytes_out", "frames",
                         "frames_per_s", "noise_bytes", "gap_ms"}, f"--stats --json keys {set(stats)}")
    check(stats["frames"] == {"2": frames} and stats["reads_out"] == 2 and stats["bytes_out"] == 12 and
          stats["reads_in"] == sum(1 for b in blocks if b[1] == "in") and
          stats["bytes_in"] == len(sim.record.read_bytes()) and stats["corrupt_frames"] > 0 and
          stats["noise_bytes"] > 0, f"--stats: {stats}, {frames} frames in the record")
    gaps = stats["gap_ms"]
    check(gaps["p50"] <= gaps["p99"] <= gaps["max"] and 0 < gaps["max_at_s"] <= stats["duration_s"],
          f"gap figures {gaps}")
    text = tool.run("--stats", str(path)).stdout
    check(f"Upload frames:    {frames} (kind 2: {frames})" in text, f"--stats as text:\n{text}")


def failures_group(tool, args):
    """A capture that cannot be created stops the run before the device is
    asked for anything; one that cannot be written ends it with status 1
    after the rows it had and the stop frame. Files that are not captures
    get one line and status 2, a capture cut short its rows and status 1. A
    run killed outright keeps all but its last second."""
    missing = str(tool.work / "no-such-folder" / "c.pcapng")
    with Simulator(args.sim, tool.work, "failures", "--rate", "200") as sim:
        expect_failure(tool, ["--port", sim.path, "--capture", missing], 3,
                       [f"cannot create capture {missing}", "No such file or directory"])
        check(not sim.saw("request 01 00"),
              "a request went out although the capture could not be made")

        full = tool.run("--port", sim.path, "--capture", "/dev/full", "--seconds", "5")
        check(full.status == 1, f"/dev/full: status {full.status}")
        one_error_line(tool, "/dev/full", full.stderr,
                       "cannot write capture /dev/full: No space left on device")
        check(len(full.stdout.splitlines()) > 50, "the rows before the failure were not kept")
        check(wait_for(lambda: sim.saw("stop")), "no stop frame after the capture failed")

    # Blocks reach the file at least once a second: a run killed outright
    # loses its last second at most.
    killed = tool.work / "killed.pcapng"
    with Simulator(args.sim, tool.work, "killed", "--rate", "200") as sim, \
            tool.start("--port", sim.path, "--capture", str(killed)) as run:
        time.sleep(1.6)
        run.signal(signal.SIGKILL)
        run.finish()
    times = [at for at, direction, _ in args.capture.read(killed) if direction == "in"]
    check(len(times) > 1 and times[-1] - times[0] >= 0.5,
          f"a killed run's capture holds {len(times)} reads")

    good = tool.work / "good.pcapng"
    with Simulator(args.sim, tool.work, "short", "--rate", "200") as sim:
        captured_run(tool, sim, good, "--count", "20")
    data = good.read_bytes()
    interface = struct.unpack_from("<I", data, 4)[0]
    files = {
        "raw.bin": sim.record.read_bytes(),
        "ethernet.pcapng": data[:interface + 8] + b"\x01" + data[interface + 9:],
    }
    for name, content in files.items():
        path = tool.file(name, content)
        expect_failure(tool, ["--stats", path], 2, path)
    expect_failure(tool, [str(tool.work / "ethernet.pcapng")], 2,
                   "has link type 1, not the port link's 147")
    cut = tool.file("cut.pcapng", data[:-3])
    run = tool.run("--json", cut)
    check(run.status == 1 and len(run.stdout.splitlines()) == len(rows(tool, str(good))) and
          "ends inside a block at byte" in run.stderr, f"cut capture: {run.status} {run.stderr!r}")
    sim_tool = Tool([args.sim], tool.work, "zelkolink-sim")
    expect_failure(sim_tool, ["--replay", tool.file("r.bin", b"raw")], 2,
                   "r.bin: not a pcapng capture")
    expect_failure(sim_tool, ["--replay", missing], 3, f"cannot open {missing}")
    expect_failure(sim_tool, ["--replay", str(good), "--rate", "10"], 2, "--replay plays a capture")


def replay_group(tool, args):
    """A capture replayed and captured again holds the same bytes; at
    --speed 0 also the same reads; --loop plays it again; --no-wait does not
    wait for the request; --speed scales its time."""
    capture = args.capture
    original = tool.work / "original.pcapng"
    with Simulator(args.sim, tool.work, "original", "--rate", "200", "--noise", "--corrupt",
                   "0.2") as sim:
        captured_run(tool, sim, original, "--seconds", "2")
    reads = [data for _, direction, data in capture.read(original) if direction == "in"]
    total = sum(map(len, reads))

    def replay(name, *options, until=total):
        """The device, its replay captured again, and how long the bytes took."""
        again = tool.work / f"{name}.pcapng"
        with Simulator(args.sim, tool.work, name, "--replay", str(original), *options) as device:
            start = time.monotonic()
            with tool.start("--port", device.path, "--capture", str(again)) as run:
                check(wait_for(lambda: len(device.record.read_bytes()) >= until, 20),
                      f"{name}: {len(device.record.read_bytes())} of {until} bytes replayed")
                took = time.monotonic() - start
                time.sleep(0.3)
                run.signal(signal.SIGINT)
                run.finish()
        return device, [data for _, d, data in capture.read(again) if d == "in"], took

    device, again, took = replay("timed")
    check(b"".join(again) == b"".join(reads) and took > 1.8,
          f"timed: the replay's bytes differ from the capture's, or took {took:.2f} s, not 2")
    check(device.events()[:1] == ["request 01 00"] and "replay ended" in device.events(),
          f"timed: events {device.events()}")
    _, again, _ = replay("fast", "--speed", "0")
    check(again == reads, f"--speed 0: {len(again)} reads replayed as {len(reads)} were captured")
    _, again, _ = replay("loop", "--speed", "0", "--loop", until=2 * total + 1)
    both = b"".join(again)
    check(both[:2 * total] == b"".join(reads) * 2, "--loop did not play the capture again")
    # The replay starts before the dump opens the port, which empties it:
    # the first read is gone when it reached the port before that, as from a
    # device that was already sending, and kept when it came just after.
    device, again, _ = replay("early", "--speed", "0", "--no-wait", until=total)
    check(again in (reads, reads[1:]) and device.saw("ignored: a request while sending"),
          f"--no-wait: {len(again)} of {len(reads)} reads, events {device.events()}")
    _, again, took = replay("quick", "--speed", "4")
    check(b"".join(again) == b"".join(reads) and took < 1.5,
          f"--speed 4 played the 2 s capture in {took:.2f} s")


def bridge_group(tool, args):
    """zelkolink-bridge --capture records its source port like the dump."""
    bridge = Tool([args.bridge], tool.work, "zelkolink-bridge")
    path = tool.work / "bridge.pcapng"
    with Simulator(args.sim, tool.work, "bridge", "--rate", "200", "--noise") as sim, Pty() as sbus:
        run = bridge.run("--from-port", sim.path, "--to-sbus", sbus.path, "--capture", str(path),
                         "--seconds", "1")
        check(run.status == 0, f"bridge: status {run.status}, {run.stderr!r}")
        full = bridge.run("--from-port", sim.path, "--to-sbus", sbus.path, "--capture", "/dev/full",
                          "--seconds", "3")
        check(wait_for(lambda: sim.events().count("stop") == 2), "the device got no stop frame")
    blocks = list(args.capture.read(path))
    check(blocks[0][1:] == ("out", REQUEST) and blocks[-1][1:] == ("out", STOP) and
          len(inbound(args.capture, path)) > 1000,
          f"bridge capture: {len(blocks)} blocks, first {blocks[:1]}")
    check(sim.record.read_bytes().startswith(inbound(args.capture, path)),
          "the bridge's capture is not what the device sent")
    check(full.status == 1 and "cannot write capture /dev/full" in full.stderr,
          f"bridge with /dev/full: {full.status} {full.stderr!r}")
    expect_failure(bridge, ["--from-file", str(path), "--to-sbus", "x", "--capture", "c"], 2,
                   "--capture records the device's port")


def extra_arguments(parser):
    parser.add_argument("--sim", required=True)
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--capture-module", required=True, dest="capture",
                        type=module_from_file, help="bindings/python/zelkolink/capture.py")


if __name__ == "__main__":
    sys.exit(main(__doc__, {"record": record_group, "failures": failures_group,
                            "replay": replay_group, "bridge": bridge_group},
                  "zelkolink-dump", extra_arguments))
