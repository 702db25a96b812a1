#!/usr/bin/env python3
"""Runs zelkolink-bridge between zelkolink-sim (the device) and a
pseudo-terminal (the SBUS equipment) and checks what the equipment receives.

The SBUS frames are unpacked here, and their channels compared with the
records of the simulator's --record file, decoded here too: what the bridge
sends must be the mapping of records the device really sent, newer and newer.

Groups (native builds): flow, failsafe, reconnect, stop, map, file, live;
wine runs the Windows build on two Wine COM ports linked to pseudo-terminals."""
import fcntl
import os
import pathlib
import re
import signal
import struct
import subprocess
import sys
import termios
import time

from tool_harness import (Pty, Simulator, check, expect_failure, live_lines, main,
                          one_error_line, wait_for)

FRAME_SIZE, START = 25, 0x0F
LOST, FAILSAFE = 0x04, 0x08
STOP_EVENT = "stop"


# ------------------------------------------------------------------ decoding

def upload_records(path):
    """The channel values of every kind-2 record in a clean simulator stream,
    in order."""
    data, records, at = pathlib.Path(path).read_bytes(), [], 0
    while at + 4 <= len(data):
        assert data[at] == 0xFA, f"{path}: no frame at byte {at}"
        length = data[at + 2] | data[at + 3] << 8
        payload = data[at + 4:at + 4 + length]
        if len(payload) == length and payload[:1] == b"\x02":
            records.append(struct.unpack_from("<32H", payload, 31))
        at += length + 5
    return records


def standard(channels):
    """The default mapping: SBUS k = floor(channel k * 1.706), at most 2047."""
    return tuple(min(2047, value * 1706 // 1000) for value in channels[:16])


def raw(channels):
    return tuple(min(2047, value) for value in channels[:16])


def unpacked(frame):
    bits = int.from_bytes(frame[1:23], "little")
    return tuple((bits >> (11 * k)) & 0x7FF for k in range(16))


class Frames:
    """The SBUS frames that reached the pseudo-terminal, each with the time
    its last byte arrived."""

    def __init__(self, pty, start=0):
        self.frames, data, offset = [], b"", 0
        for when, chunk in pty.timed_chunks():
            data += chunk
            while len(data) - offset >= FRAME_SIZE:
                if offset >= start:
                    self.frames.append((when, data[offset:offset + FRAME_SIZE]))
                offset += FRAME_SIZE

    def flags(self):
        return [frame[23] for _, frame in self.frames]

    def first(self, flags, after=0.0):
        """When the first frame with these flags arrived after `after`."""
        return next((when for when, frame in self.frames
                     if when >= after and frame[23] == flags), None)

    def largest_gap(self):
        times = [when for when, _ in self.frames]
        return max((b - a for a, b in zip(times, times[1:])), default=0.0)


def check_frames_match(what, frames, records, mapping):
    """Every flowing frame (flags 0) is well formed and carries the mapping of
    a record, never one older than the frame before it. Returns how many."""
    expected = [mapping(record) for record in records]
    matched, count = 0, 0
    for _, frame in frames.frames:
        if not check(frame[0] == START and frame[24] in (0, 0x04, 0x14, 0x24, 0x34),
                     f"{what}: malformed frame {frame.hex()}"):
            return count
        if frame[23] != 0:
            continue
        channels = unpacked(frame)
        try:
            matched = expected.index(channels, matched)
        except ValueError:
            check(False, f"{what}: frame {count} carries {channels}, the mapping of no record "
                         f"from number {matched} on")
            return count
        count += 1
    return count


def bridge_args(sim, pty, *more):
    return ["--from-port", sim.path, "--to-sbus", pty.path, *more]


def in_order(lines, starts):
    """Lines starting with each of starts appear in this order (other lines,
    such as a stall of a loaded machine, may come between them)."""
    rest = iter(lines)
    return all(any(line.startswith(start) for line in rest) for start in starts)


def events(run):
    """The state lines of a finished run, without their times."""
    return [m.group(1) for m in re.finditer(r"^zelkolink-bridge: \[[0-9.]+\] (.*)$",
                                            run.stderr, re.M)]


# -------------------------------------------------------------------- groups

def flow_group(tool, args):
    """Frames flow while the device does: no flags once ok, channels the
    mapping of the device's records in order, then the stop frame to the
    device and both ports restored."""
    for name, extra, mapping, end_bytes in (
            ("default", [], standard, {0}),
            ("raw sbus2", ["--raw", "--sbus2", "--interval-ms", "7"], raw,
             {0x04, 0x14, 0x24, 0x34})):
        sim, pty = Simulator(args.sim, tool.work, f"flow-{len(extra)}", "--rate", "100"), Pty()
        before = pty.settings()
        # Limits far above a loaded machine's stalls: this group checks values.
        run = tool.start(*bridge_args(sim, pty, "--seconds", "2", "--lost-ms", "1000",
                                      "--failsafe-ms", "5000", *extra))
        check(wait_for(lambda: len(pty.received()) >= 20 * FRAME_SIZE), f"{name}: no SBUS frames")
        during = pty.settings()
        run.finish()
        check(run.status == 0, f"{name}: status {run.status}, {run.stderr!r}")
        check(wait_for(lambda: sim.saw(STOP_EVENT), 5), f"{name}: the device got no stop frame")
        sim.stop()
        check(during[-1] == 100000 and during[2] & termios.CSTOPB, f"{name}: not 100000 baud, 2 stop bits")
        check(pty.settings() == before, f"{name}: SBUS port settings not restored")
        frames = Frames(pty)
        flags = frames.flags()
        check(flags and set(flags[:flags.index(0)] if 0 in flags else flags) <= {FAILSAFE},
              f"{name}: frames before the first record carry {set(flags)}")
        check(0 in flags and set(flags[flags.index(0):]) == {0},
              f"{name}: flags while frames flow: {sorted(set(flags))}")
        check({frame[24] for _, frame in frames.frames} == end_bytes, f"{name}: end bytes")
        waiting = [unpacked(frame) for _, frame in frames.frames if frame[23] == FAILSAFE]
        check(all(channels == (992,) * 16 for channels in waiting),
              f"{name}: before the first record, channels {set(waiting)}")
        matched = check_frames_match(name, frames, upload_records(sim.record), mapping)
        interval = 0.007 if "--sbus2" in extra else 0.014
        check(len(frames.frames) >= 0.5 * 2 / interval, f"{name}: {len(frames.frames)} frames in 2 s")
        check(events(run)[:1] == ["ok"], f"{name}: state lines {events(run)}")
        print(f"flow {name}: {len(frames.frames)} frames, {matched} matched the record, "
              f"largest gap {frames.largest_gap() * 1000:.1f} ms")
        pty.close()


def failsafe_group(tool, args):
    """A stopped device: frame lost near --lost-ms, failsafe near
    --failsafe-ms, both cleared once it runs again; SBUS never pauses."""
    sim, pty = Simulator(args.sim, tool.work, "failsafe", "--rate", "100"), Pty()
    map_file = tool.file("failsafe.json", '{"channels": {"3": {"failsafe": 172}}}')
    run = tool.start(*bridge_args(sim, pty, "--map", map_file, "--status"))
    try:
        check(wait_for(lambda: 0 in Frames(pty).flags()), "no flowing frames")
        time.sleep(0.5)
        stopped = time.monotonic()
        sim.process.send_signal(signal.SIGSTOP)
        check(wait_for(lambda: Frames(pty).first(LOST | FAILSAFE, stopped), 10), "no failsafe")
        time.sleep(0.3)
        resumed = time.monotonic()
        sim.process.send_signal(signal.SIGCONT)
        check(wait_for(lambda: Frames(pty).first(0, resumed), 10), "flags never cleared")
        time.sleep(0.3)
    finally:
        sim.process.send_signal(signal.SIGCONT)
        run.signal(signal.SIGTERM)
        run.finish()
    sim.stop()
    frames = Frames(pty)
    lost, failsafe = frames.first(LOST, stopped), frames.first(LOST | FAILSAFE, stopped)
    cleared = frames.first(0, resumed)
    if check(lost and failsafe and cleared, "a state never showed"):
        lost_ms, failsafe_ms = (lost - stopped) * 1000, (failsafe - stopped) * 1000
        print(f"failsafe: frame lost {lost_ms:.0f} ms and failsafe {failsafe_ms:.0f} ms after "
              f"SIGSTOP, flags cleared {(cleared - resumed) * 1000:.0f} ms after SIGCONT")
        check(60 <= lost_ms <= 600, f"frame lost {lost_ms:.0f} ms after the stop (--lost-ms 100)")
        check(900 <= failsafe_ms <= 2000, f"failsafe {failsafe_ms:.0f} ms after the stop")
        check(cleared - resumed <= 1.0, "flags cleared late")
    stalled = [unpacked(frame) for when, frame in frames.frames
               if frame[23] == LOST and stopped <= when < resumed]
    check(len(set(stalled)) == 1, f"frame-lost frames do not hold one set of values: {len(set(stalled))}")
    held = stalled[0] if stalled else None
    in_failsafe = [unpacked(frame) for when, frame in frames.frames
                   if frame[23] == LOST | FAILSAFE and stopped <= when < resumed]
    check(held and all(c[3] == 172 and c[:3] == held[:3] and c[4:] == held[4:] for c in in_failsafe),
          "failsafe frames: channel 3 not at its failsafe 172, or others not held")
    check(frames.largest_gap() < 0.5, f"SBUS paused for {frames.largest_gap() * 1000:.0f} ms")
    check(run.status == 0, f"status {run.status} after SIGTERM")
    lines = events(run)
    states = [line for line in lines if not line.startswith("status:")]
    check(in_order(states, ["ok", "frame lost", "failsafe", "ok"]) and states[-1] == "ok",
          f"state lines {states}")
    check(any(re.match(r"status: source [0-9.]+ frames/s, SBUS [0-9.]+ frames/s, (ok|frame lost|"
                       r"failsafe), age ([0-9.]+ ms|-)$", line) for line in lines),
          f"no status line in {lines}")


def reconnect_group(tool, args):
    """The device killed mid-stream and started again on the same link: the
    bridge keeps sending, reopens the port, requests again, and never sends a
    record mixing the two connections."""
    link = tool.work / "device"
    first = Simulator(args.sim, tool.work, "first", "--rate", "1000", "--link", str(link))
    pty = Pty()
    run = tool.start("--from-port", str(link), "--to-sbus", pty.path)
    try:
        check(wait_for(lambda: 0 in Frames(pty).flags()), "no flowing frames")
        time.sleep(0.3)
        first.process.send_signal(signal.SIGKILL)
        first.process.wait()
        killed = time.monotonic()
        check(wait_for(lambda: Frames(pty).first(LOST | FAILSAFE, killed), 10), "no failsafe")
        second = Simulator(args.sim, tool.work, "second", "--rate", "1000", "--link", str(link))
        restarted = time.monotonic()
        check(wait_for(lambda: second.saw("request 01 00"), 5), "the new device got no request")
        check(wait_for(lambda: Frames(pty).first(0, restarted), 5), "flags never cleared")
        time.sleep(0.3)
    finally:
        run.signal(signal.SIGINT)
        run.finish()
    check(wait_for(lambda: second.saw(STOP_EVENT), 5), "the new device got no stop frame")
    second.stop()
    frames = Frames(pty)
    records = upload_records(first.record) + upload_records(second.record)
    check_frames_match("reconnect", frames, records, standard)
    check(frames.largest_gap() < 0.5, f"SBUS paused for {frames.largest_gap() * 1000:.0f} ms")
    check(run.status == 0, f"status {run.status}, {run.stderr!r}")
    lines = events(run)
    check(in_order(lines, ["ok", "source lost: ", "frame lost", "failsafe", "source back after ",
                           "ok"]) and lines[-1] == "ok", f"state lines {lines}")
    print(f"reconnect: {lines}")


def sbus_reconnect_group(tool, args):
    """The SBUS port vanishes: the bridge goes on, reopens it every 500 ms,
    and frames reach the new port once it is back."""
    sim, link = Simulator(args.sim, tool.work, "sbus"), tool.work / "sbus"
    first = Pty()
    link.symlink_to(first.path)
    run = tool.start("--from-port", sim.path, "--to-sbus", str(link))
    try:
        check(wait_for(lambda: 0 in Frames(first).flags()), "no frames on the first port")
        first.close()
        link.unlink()
        time.sleep(0.7)
        second = Pty()
        link.symlink_to(second.path)
        check(wait_for(lambda: 0 in Frames(second).flags(), 5), "no frames on the port once back")
    finally:
        run.signal(signal.SIGINT)
        run.finish()
    check(run.status == 0, f"status {run.status}, {run.stderr!r}")
    lines = events(run)
    check(in_order(lines, ["ok", "SBUS port lost: ", "SBUS port back"]), f"state lines {lines}")
    check(wait_for(lambda: sim.saw(STOP_EVENT), 5), "the device got no stop frame")
    sim.stop()
    check_frames_match("after the SBUS port came back", Frames(second), upload_records(sim.record),
                       standard)
    second.close()


def kind2_frame(channels):
    record = bytes([2]) + bytes(30) + struct.pack("<32H", *channels)
    return bytes([0xFA, 0xA5, len(record), 0]) + record + b"\x5F"


def cut_group(tool, args):
    """A connection cut one byte into a record, and a new connection whose
    first frame holds 0x5F exactly where the cut frame would end: joined, the
    two would decode a record mixing both connections. The test plays the
    device on pseudo-terminals behind one symlink."""
    link = tool.work / "device"
    old = kind2_frame([300] * 32)
    new_channels = [600] * 32
    new_channels[29] = 0x5F00  # byte 94 of the new frame: where the cut frame's end byte falls
    new = kind2_frame(new_channels)
    assert new[94] == 0x5F
    request = bytes([0xFA, 0xE5, 2, 0, 1, 0, 0x5F])
    device, pty = Pty(), Pty()
    link.symlink_to(device.path)
    run = tool.start("--from-port", str(link), "--to-sbus", pty.path)
    try:
        check(wait_for(lambda: device.received() == request, 5), "no request")
        os.write(device.controller, old + old[:5])
        check(wait_for(lambda: 0 in Frames(pty).flags()), "the first connection's frame not shown")
        device.close()
        link.unlink()
        device = Pty()
        link.symlink_to(device.path)
        check(wait_for(lambda: device.received() == request, 5), "no request on the new connection")
        cut_at = len(pty.received())
        os.write(device.controller, new)
        time.sleep(0.2)
        os.write(device.controller, new * 3)
        time.sleep(0.2)
    finally:
        run.signal(signal.SIGINT)
        run.finish()
        device.close()
    check(run.status == 0, f"status {run.status}, {run.stderr!r}")
    after = {unpacked(frame) for _, frame in Frames(pty, cut_at).frames if frame[23] == 0}
    check(after == {standard(new_channels)},
          f"after the cut: {len(after)} different frames, expected only the new frame's values")
    pty.close()


def stop_group(tool, args):
    """Every way out: SIGINT, SIGTERM and --seconds exit 0 after the stop
    frame; --exit-on-loss exits 5; ports that cannot be had exit 3 and 4;
    bad usage exits 2."""
    for how in ("SIGINT", "SIGTERM"):
        sim, pty = Simulator(args.sim, tool.work, how), Pty()
        before = pty.settings()
        run = tool.start(*bridge_args(sim, pty))
        check(wait_for(lambda: 0 in Frames(pty).flags()), f"{how}: no flowing frames")
        run.signal(getattr(signal, how))
        run.finish(10)
        check(run.status == 0 and f"(stopped by {how})" in run.stderr,
              f"{how}: status {run.status}, {run.stderr!r}")
        # root may run threads at real-time priority, so the bridge must have.
        check(os.geteuid() != 0 or "raised priority" in run.stderr, f"{how}: {run.stderr!r}")
        check(wait_for(lambda: sim.saw(STOP_EVENT), 5), f"{how}: the device got no stop frame")
        check(pty.settings() == before, f"{how}: SBUS port settings not restored")
        sim.stop()
        pty.close()

    sim, pty = Simulator(args.sim, tool.work, "loss"), Pty()
    run = tool.start(*bridge_args(sim, pty, "--exit-on-loss"))
    check(wait_for(lambda: 0 in Frames(pty).flags()), "--exit-on-loss: no flowing frames")
    sim.process.send_signal(signal.SIGKILL)
    run.finish(10)
    check(run.status == 5 and "device disconnected" in run.stderr,
          f"--exit-on-loss: status {run.status}, {run.stderr!r}")
    pty.close()

    pty = Pty()
    expect_failure(tool, ["--from-port", "/nonexistent/tty", "--to-sbus", pty.path], 3,
                   "/nonexistent/tty")
    sim = Simulator(args.sim, tool.work, "errors")
    expect_failure(tool, bridge_args(sim, pty)[:3] + ["/nonexistent/sbus"], 3, "/nonexistent/sbus")
    held = os.open(pty.path, os.O_RDWR | os.O_NOCTTY)
    fcntl.flock(held, fcntl.LOCK_EX)
    expect_failure(tool, bridge_args(sim, pty), 4, [pty.path, "in use"])
    os.close(held)
    sim.stop()
    pty.close()
    for arguments, words in (
            (["--to-sbus", "x"], "give a source"),
            (["--from-port", "a", "--from-file", "b", "--to-sbus", "x"], "one source only"),
            (["--from-port", "a"], "--to-sbus"),
            (["--from-port", "a", "--to-sbus", "x", "--lost-ms", "500", "--failsafe-ms", "400"],
             "--failsafe-ms"),
            (["--from-port", "a", "--to-sbus", "x", "--interval-ms", "3"], "--interval-ms"),
            (["--from-hid", "12345:1", "--to-sbus", "x"], "VID:PID"),
            (["--from-port", "a", "--to-sbus", "x", "--bogus"], "--bogus")):
        expect_failure(tool, arguments, 2, words)
    help_run = tool.run("--help")
    options = set(re.findall(r"^  (--[a-z0-9-]+)", help_run.stdout, re.M))
    check(help_run.status == 0 and {"--from-port", "--from-hid", "--from-file", "--to-sbus", "--map",
                                    "--raw", "--sbus2", "--lost-ms", "--failsafe-ms", "--status",
                                    "--exit-on-loss", "--seconds", "--trace"} <= options,
          f"--help documents {sorted(options)}")


def map_group(tool, args):
    """A map file reshapes the channels; a bad one exits 2 naming the key or
    the line."""
    sim, pty = Simulator(args.sim, tool.work, "map"), Pty()
    good = tool.file("good.json", """{"channels": {
        "0": {"source": "constant 1500"},
        "1": {"source": "channel 4", "scale": "raw", "invert": true, "trim": 5}}}""")
    run = tool.run(*bridge_args(sim, pty, "--map", good, "--seconds", "1"))
    sim.stop()
    check(run.status == 0, f"good map: status {run.status}, {run.stderr!r}")

    def mapping(channels):
        out = list(standard(channels))
        out[0] = 1500
        out[1] = max(0, min(2047, 1984 - min(2047, channels[4]) + 5))
        return tuple(out)
    frames = Frames(pty)
    flowing = [unpacked(frame) for _, frame in frames.frames if frame[23] == 0]
    records = [mapping(record) for record in upload_records(sim.record)]
    check(flowing and all(channels in records for channels in flowing),
          "good map: frames do not carry the mapped records")
    pty.close()

    bad = tool.file("bad.json", '{"channels": {\n  "4": {"source": "input 12"}\n}}')
    expect_failure(tool, ["--from-port", "x", "--to-sbus", "y", "--map", bad], 2,
                   ["bad.json", "channels.4.source", "0 to 8"])
    broken = tool.file("broken.json", '{"channels": {\n  "4": {"source": }\n}}')
    expect_failure(tool, ["--from-port", "x", "--to-sbus", "y", "--map", broken], 2,
                   ["broken.json", "line 2"])


def file_group(tool, args):
    """--from-file replays a capture at --file-rate; at its end the source is
    quiet and the failsafe follows."""
    pty = Pty()
    records = [tuple((37 * k + 13 * n) % 1300 for k in range(32)) for n in range(40)]
    capture = tool.file("capture.bin", b"".join(
        bytes([0xFA, 0xA5, 95, 0, 2]) + bytes(18) + bytes(12) + struct.pack("<32H", *record)
        + b"\x5F" for record in records))
    run = tool.run("--from-file", capture, "--to-sbus", pty.path, "--file-rate", "50",
                   "--interval-ms", "7", "--lost-ms", "50", "--failsafe-ms", "300",
                   "--seconds", "1.6")
    check(run.status == 0, f"--from-file: status {run.status}, {run.stderr!r}")
    frames = Frames(pty)
    matched = check_frames_match("--from-file", frames, records, standard)
    distinct = {unpacked(frame) for _, frame in frames.frames if frame[23] == 0}
    check(len(distinct) >= 35, f"--from-file: {len(distinct)} of 40 records shown")
    check(frames.flags()[-1] == LOST | FAILSAFE, "--from-file: no failsafe after the end")
    check(any(line.startswith("source ended") for line in events(run)), f"{events(run)}")
    print(f"file: {matched} frames matched, {len(distinct)} distinct records")
    expect_failure(tool, ["--from-file", "/nonexistent/capture", "--to-sbus", pty.path], 3,
                   "/nonexistent/capture")
    pty.close()


def live_group(tool, args):
    """The first state line reaches a pipe while the bridge runs."""
    sim, pty = Simulator(args.sim, tool.work, "live"), Pty()
    lines = live_lines("state lines", tool.command + bridge_args(sim, pty), stream="stderr")
    check(lines is not None and lines[0].endswith("] ok"), f"first state line {lines}")
    sim.stop()
    pty.close()


def game_controller_values(report):
    """The eleven values of a 19-byte report, decoded here, with their widths."""
    word = lambda at: report[at] | report[at + 1] << 8
    twelve = lambda at: (report[at] | report[at + 1] << 8 | report[at + 2] << 16)
    values = [word(0), word(2), word(4), twelve(6) & 0xFFF, twelve(6) >> 12,
              twelve(9) & 0xFFF, twelve(9) >> 12, report[12] | (report[13] & 0x0F) << 8,
              report[13] >> 4, word(14), report[16]]
    return values, [16, 16, 16, 12, 12, 12, 12, 12, 4, 16, 8]


def hid_group(tool, args):
    """--from-hid with a stand-in for hidapi: a game controller's report
    drives the channels over each value's width; when it vanishes the
    failsafe follows and the bridge opens it again."""
    report = bytes([0x00, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x0F, 0x00, 0x00, 0x08, 0x40,
                    0x34, 0xF2, 0x10, 0x27, 0x80, 0x00, 0x00])
    values, bits = game_controller_values(report)
    expected = tuple([int(172 + v * 1639 / (2 ** b - 1) + 0.5) for v, b in zip(values, bits)]
                     + [992] * 5)
    script = tool.file("hid.script", "device\t046d\tc216\tSER1\tMaker\tPad\t/fake/hidraw0\n"
                       f"report\t{report.hex(' ')}\nvanish\n")
    env = dict(os.environ, LD_PRELOAD=args.fake_hidapi, ZELKOLINK_FAKE_HID=script)
    pty = Pty()
    run = tool.start("--from-hid", "046d:c216", "--to-sbus", pty.path, "--seconds", "1.5", env=env)
    run.finish()
    check(run.status == 0, f"--from-hid: status {run.status}, {run.stderr!r}")
    frames = Frames(pty)
    flowing = {unpacked(frame) for _, frame in frames.frames if frame[23] == 0}
    check(flowing == {expected}, f"--from-hid: channels {flowing}, expected {expected}")
    lines = events(run)
    # The report and the loss come at once: either line may be first.
    check(set(lines[:2]) == {"ok", "source lost: HID device 046d:c216 at /fake/hidraw0 went "
                                   "away: it hung up"} and "failsafe" in lines and
          any(line.startswith("source back after 0.5 s") for line in lines),
          f"--from-hid: state lines {lines}")
    check(frames.flags()[-1] == LOST | FAILSAFE, "--from-hid: no failsafe once the reports stop")
    pty.close()
    expect_failure(tool, ["--from-hid", "1234:5678", "--to-sbus", "/dev/null"], 3, "1234:5678",
                   env=env)


def wine_group(tool, args):
    """The Windows build, from COM23 (the simulator) to COM24 (a
    pseudo-terminal)."""
    dosdevices = pathlib.Path(os.environ["WINEPREFIX"]) / "dosdevices"
    dosdevices.mkdir(parents=True, exist_ok=True)
    device, sbus = dosdevices / "com23", dosdevices / "com24"
    sim, pty = Simulator(args.sim, tool.work, "wine"), Pty()
    try:
        for link, target in ((device, sim.path), (sbus, pty.path)):
            link.unlink(missing_ok=True)
            link.symlink_to(target)
        run = tool.run("--from-port", "COM23", "--to-sbus", "COM24", "--seconds", "4")
        # Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event.
        before = len(pty.received())
        stopped = tool.start("--from-port", "COM23", "--to-sbus", "COM24")
        check(wait_for(lambda: len(pty.received()) >= before + 20 * FRAME_SIZE, 30),
              "wine Ctrl-C: no frames")
        stopped.signal(signal.SIGINT)
        stopped.finish()
        check(stopped.status == 0 and "(stopped by " in stopped.stderr,
              f"wine Ctrl-C: status {stopped.status}, {stopped.stderr!r}")
    finally:
        device.unlink(missing_ok=True)
        sbus.unlink(missing_ok=True)
    check(run.status == 0 and "raised priority" in run.stderr,
          f"wine: status {run.status}, {run.stderr!r}")
    check(wait_for(lambda: sim.events().count(STOP_EVENT) == 2, 5),
          f"wine: the device did not get two stop frames: {sim.events()}")
    sim.stop()
    check(sim.events()[:1] == ["request 01 00"], f"wine: device events {sim.events()[:3]}")
    frames = Frames(pty)
    matched = check_frames_match("wine", frames, upload_records(sim.record), standard)
    check(matched >= 20, f"wine: {matched} flowing frames")
    check("ok" in events(run), f"wine: state lines {events(run)}")
    print(f"wine: {len(frames.frames)} frames, {matched} matched the record")
    pty.close()
    expect_failure(tool, ["--from-port", "COM25", "--to-sbus", "COM26"], 3, "COM25")
    expect_failure(tool, ["--from-port", "COM25", "--to-sbus", "COM26", "--map", "m.json"], 2,
                   "m.json")
    expect_failure(tool, ["--from-hid", "1:2", "--to-sbus", "COM26"], 2,
                   "the Windows build has no --from-hid")


GROUPS = {"flow": flow_group, "failsafe": failsafe_group, "reconnect": reconnect_group,
          "cut": cut_group, "sbus_reconnect": sbus_reconnect_group, "stop": stop_group, "map": map_group, "file": file_group, "live": live_group, "hid": hid_group,
          "wine": wine_group}

if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-bridge",
                  lambda parser: (parser.add_argument("--sim", required=True),
                                  parser.add_argument("--fake-hidapi", default=""))))
