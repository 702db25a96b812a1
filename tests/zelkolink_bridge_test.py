#!/usr/bin/env python3
"""Runs zelkolink-bridge between zelkolink-sim (the device) and a
pseudo-terminal (the SBUS equipment) and checks what the equipment receives.

The SBUS frames are unpacked, and the simulator's --record file read, by
wire_models: what the bridge sends must be the mapping of records the device
really sent, newer and newer.

Groups: flow, failsafe, reconnect, cut, sbus_reconnect, stop, map, file,
live and hid (native builds; hid with a stand-in for hidapi), and wine, the
Windows build on two Wine COM ports linked to pseudo-terminals."""
import contextlib
import fcntl
import os
import re
import signal
import sys
import time

from tool_harness import (Pty, Simulator, check, expect_failure, live_lines, main, wait_for,
                          wine_com_port)
from wire_models import (CENTRE, FAILSAFE, FRAME_LOST as LOST, GAME_CONTROLLER_BITS,
                         SBUS2_END_BYTES, SBUS_FRAME_SIZE as FRAME_SIZE, SBUS_START as START,
                         SbusFrames as Frames, channel_records, game_controller_values,
                         kind2_frame, request_frame, sbus_channels, sbus_line_faults,
                         standard_channels as standard)

STOP_EVENT = "stop"


def recorded(sim):
    """The channels of the records the simulator sent, in order."""
    return channel_records(sim.record.read_bytes())


def raw(channels):
    return tuple(min(2047, value) for value in channels[:16])


def check_frames_match(what, frames, records, mapping):
    """Every flowing frame (flags 0) is well formed and carries the mapping of
    a record, never one older than the frame before it. Returns how many."""
    expected = [mapping(record) for record in records]
    matched, count = 0, 0
    for _, frame in frames.frames:
        if not check(frame[0] == START and frame[24] in (0,) + SBUS2_END_BYTES,
                     f"{what}: malformed frame {frame.hex()}"):
            return count
        if frame[23] != 0:
            continue
        channels = sbus_channels(frame)
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
            ("raw sbus2", ["--raw", "--sbus2", "--interval-ms", "7"], raw, set(SBUS2_END_BYTES))):
        with Simulator(args.sim, tool.work, f"flow-{len(extra)}", "--rate", "100") as sim, \
                Pty() as pty:
            before = pty.settings()
            # Limits far above a loaded machine's stalls: this group checks values.
            with tool.start(*bridge_args(sim, pty, "--seconds", "2", "--lost-ms", "1000",
                                         "--failsafe-ms", "5000", *extra)) as run:
                check(wait_for(lambda: len(pty.received()) >= 20 * FRAME_SIZE),
                      f"{name}: no SBUS frames")
                during = pty.settings()
                run.finish()
            check(run.status == 0, f"{name}: status {run.status}, {run.stderr!r}")
            check(wait_for(lambda: sim.saw(STOP_EVENT), 5), f"{name}: the device got no stop frame")
            sim.stop()
            check(not sbus_line_faults(during), f"{name}: {sbus_line_faults(during)}")
            check(pty.settings() == before, f"{name}: SBUS port settings not restored")
            frames = Frames(pty)
        flags = frames.flags()
        check(flags and set(flags[:flags.index(0)] if 0 in flags else flags) <= {FAILSAFE},
              f"{name}: frames before the first record carry {set(flags)}")
        check(0 in flags and set(flags[flags.index(0):]) == {0},
              f"{name}: flags while frames flow: {sorted(set(flags))}")
        check({frame[24] for _, frame in frames.frames} == end_bytes, f"{name}: end bytes")
        waiting = frames.channels(FAILSAFE)
        check(all(channels == (CENTRE,) * 16 for channels in waiting),
              f"{name}: before the first record, channels {set(waiting)}")
        matched = check_frames_match(name, frames, recorded(sim), mapping)
        interval = 0.007 if "--sbus2" in extra else 0.014
        check(len(frames.frames) >= 0.5 * 2 / interval, f"{name}: {len(frames.frames)} frames in 2 s")
        check(events(run)[:1] == ["ok"], f"{name}: state lines {events(run)}")
        print(f"flow {name}: {len(frames.frames)} frames, {matched} matched the record, "
              f"largest gap {frames.largest_gap() * 1000:.1f} ms")


def failsafe_group(tool, args):
    """A stopped device: frame lost near --lost-ms, failsafe near
    --failsafe-ms, both cleared once it runs again; SBUS never pauses."""
    map_file = tool.file("failsafe.json", '{"channels": {"3": {"failsafe": 172}}}')
    with Simulator(args.sim, tool.work, "failsafe", "--rate", "100") as sim, Pty() as pty:
        with tool.start(*bridge_args(sim, pty, "--map", map_file, "--status")) as run:
            try:
                check(wait_for(lambda: 0 in Frames(pty).flags()), "no flowing frames")
                time.sleep(0.5)
                stopped = time.monotonic()
                sim.process.send_signal(signal.SIGSTOP)
                check(wait_for(lambda: Frames(pty).first(LOST | FAILSAFE, stopped), 10),
                      "no failsafe")
                time.sleep(0.3)
                resumed = time.monotonic()
                sim.process.send_signal(signal.SIGCONT)
                check(wait_for(lambda: Frames(pty).first(0, resumed), 10), "flags never cleared")
                time.sleep(0.3)
            finally:
                sim.process.send_signal(signal.SIGCONT)
                run.signal(signal.SIGTERM)
                run.finish()
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
    stalled = [sbus_channels(frame) for when, frame in frames.frames
               if frame[23] == LOST and stopped <= when < resumed]
    check(len(set(stalled)) == 1, f"frame-lost frames do not hold one set of values: {len(set(stalled))}")
    held = stalled[0] if stalled else None
    in_failsafe = [sbus_channels(frame) for when, frame in frames.frames
                   if frame[23] == LOST | FAILSAFE and stopped <= when < resumed]
    check(held and all(c[3] == 172 and c[:3] == held[:3] and c[4:] == held[4:] for c in in_failsafe),
          "failsafe frames: channel 3 not at its failsafe 172, or others not held")
    check(frames.largest_gap() < 0.5, f"SBUS paused for {frames.largest_gap() * 1000:.0f} ms")
    check(run.status == 0, f"status {run.status} after SIGTERM")
    lines = events(run)
    states = [line for line in lines if not line.startswith("status:")]
    check(in_order(states, ["ok", "frame lost", "failsafe", "ok"]) and states[-1] == "ok",
          f"state lines {states}")
    status = [line for line in lines if line.startswith("status:")]
    check(status and all(re.match(r"status: source [0-9.]+ frames/s, SBUS [0-9.]+ frames/s, (ok|frame "
                                  r"lost|failsafe), age ([0-9.]+ ms|-)$", line) for line in status),
          f"status lines {status}")
    seconds = max(map(float, re.findall(r"^zelkolink-bridge: \[([0-9.]+)\]", run.stderr, re.M)))
    check(len(status) <= seconds + 1, f"{len(status)} status lines in {seconds:.1f} s, not one a second")
    # Each covers its own second: at 14 ms a frame, about 71 SBUS frames.
    rates = [float(re.search(r"SBUS ([0-9.]+) frames/s", line).group(1)) for line in status]
    check(all(rate <= 80 for rate in rates), f"SBUS rates {rates} above the 14 ms schedule")


def reconnect_group(tool, args):
    """The device killed mid-stream and started again on the same link: the
    bridge keeps sending, reopens the port, requests again, and never sends a
    record mixing the two connections."""
    link = tool.work / "device"
    with contextlib.ExitStack() as stack:
        first = stack.enter_context(
            Simulator(args.sim, tool.work, "first", "--rate", "1000", "--link", str(link)))
        pty = stack.enter_context(Pty())
        run = stack.enter_context(tool.start("--from-port", str(link), "--to-sbus", pty.path))
        try:
            check(wait_for(lambda: 0 in Frames(pty).flags()), "no flowing frames")
            time.sleep(0.3)
            first.process.send_signal(signal.SIGKILL)
            first.process.wait()
            killed = time.monotonic()
            check(wait_for(lambda: Frames(pty).first(LOST | FAILSAFE, killed), 10), "no failsafe")
            second = stack.enter_context(
                Simulator(args.sim, tool.work, "second", "--rate", "1000", "--link", str(link)))
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
    check_frames_match("reconnect", frames, recorded(first) + recorded(second), standard)
    check(frames.largest_gap() < 0.5, f"SBUS paused for {frames.largest_gap() * 1000:.0f} ms")
    check(run.status == 0, f"status {run.status}, {run.stderr!r}")
    lines = events(run)
    check(in_order(lines, ["ok", "source lost: ", "frame lost", "failsafe", "source back after ",
                           "ok"]) and lines[-1] == "ok", f"state lines {lines}")
    print(f"reconnect: {lines}")


def sbus_reconnect_group(tool, args):
    """The SBUS port vanishes: the bridge goes on, reopens it every 500 ms,
    and frames reach the new port once it is back."""
    link = tool.work / "sbus"
    with Simulator(args.sim, tool.work, "sbus") as sim, Pty() as first, Pty() as second:
        link.symlink_to(first.path)
        with tool.start("--from-port", sim.path, "--to-sbus", str(link)) as run:
            try:
                check(wait_for(lambda: 0 in Frames(first).flags()), "no frames on the first port")
                first.close()
                link.unlink()
                time.sleep(0.7)
                link.symlink_to(second.path)
                check(wait_for(lambda: 0 in Frames(second).flags(), 5),
                      "no frames on the port once back")
            finally:
                run.signal(signal.SIGINT)
                run.finish()
        check(run.status == 0, f"status {run.status}, {run.stderr!r}")
        lines = events(run)
        check(in_order(lines, ["ok", "SBUS port lost: ", "SBUS port back"]), f"state lines {lines}")
        check(wait_for(lambda: sim.saw(STOP_EVENT), 5), "the device got no stop frame")
        sim.stop()
        check_frames_match("after the SBUS port came back", Frames(second), recorded(sim), standard)


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
    with Pty() as device, Pty() as again, Pty() as pty:
        link.symlink_to(device.path)
        with tool.start("--from-port", str(link), "--to-sbus", pty.path) as run:
            try:
                check(wait_for(lambda: device.received() == request_frame(), 5), "no request")
                os.write(device.controller, old + old[:5])
                check(wait_for(lambda: 0 in Frames(pty).flags()),
                      "the first connection's frame not shown")
                device.close()
                link.unlink()
                link.symlink_to(again.path)
                check(wait_for(lambda: again.received() == request_frame(), 5),
                      "no request on the new connection")
                cut_at = len(pty.received())
                os.write(again.controller, new)
                time.sleep(0.2)
                os.write(again.controller, new * 3)
                time.sleep(0.2)
            finally:
                run.signal(signal.SIGINT)
                run.finish()
        check(run.status == 0, f"status {run.status}, {run.stderr!r}")
        after = set(Frames(pty, cut_at).channels(0))
    check(after == {standard(new_channels)},
          f"after the cut: {len(after)} different frames, expected only the new frame's values")


def stop_group(tool, args):
    """Every way out: SIGINT, SIGTERM and --seconds exit 0 after the stop
    frame; --exit-on-loss exits 5; ports that cannot be had exit 3 and 4;
    bad usage exits 2."""
    for how in ("SIGINT", "SIGTERM"):
        with Simulator(args.sim, tool.work, how) as sim, Pty() as pty:
            before = pty.settings()
            with tool.start(*bridge_args(sim, pty)) as run:
                check(wait_for(lambda: 0 in Frames(pty).flags()), f"{how}: no flowing frames")
                run.signal(getattr(signal, how))
                run.finish(10)
            check(run.status == 0 and f"(stopped by {how})" in run.stderr,
                  f"{how}: status {run.status}, {run.stderr!r}")
            # root may run threads at real-time priority, so the bridge must have.
            check(os.geteuid() != 0 or "raised priority" in run.stderr, f"{how}: {run.stderr!r}")
            check(wait_for(lambda: sim.saw(STOP_EVENT), 5), f"{how}: the device got no stop frame")
            check(pty.settings() == before, f"{how}: SBUS port settings not restored")

    with Simulator(args.sim, tool.work, "loss") as sim, Pty() as pty, \
            tool.start(*bridge_args(sim, pty, "--exit-on-loss")) as run:
        check(wait_for(lambda: 0 in Frames(pty).flags()), "--exit-on-loss: no flowing frames")
        sim.process.send_signal(signal.SIGKILL)
        run.finish(10)
    check(run.status == 5 and "device disconnected" in run.stderr,
          f"--exit-on-loss: status {run.status}, {run.stderr!r}")

    with Simulator(args.sim, tool.work, "errors") as sim, Pty() as pty:
        expect_failure(tool, ["--from-port", "/nonexistent/tty", "--to-sbus", pty.path], 3,
                       "/nonexistent/tty")
        expect_failure(tool, bridge_args(sim, pty)[:3] + ["/nonexistent/sbus"], 3,
                       "/nonexistent/sbus")
        held = os.open(pty.path, os.O_RDWR | os.O_NOCTTY)
        try:
            fcntl.flock(held, fcntl.LOCK_EX)
            expect_failure(tool, bridge_args(sim, pty), 4, [pty.path, "in use"])
        finally:
            os.close(held)
    # The options' refusals are bridge_logic_test's table; these two show the
    # one line and status 2 of the program.
    expect_failure(tool, ["--to-sbus", "x"], 2, "give a source")
    expect_failure(tool, ["--from-port", "a", "--to-sbus", "x", "--bogus"], 2, "--bogus")
    help_run = tool.run("--help")
    options = set(re.findall(r"^  (--[a-z0-9-]+)", help_run.stdout, re.M))
    check(help_run.status == 0 and {"--from-port", "--from-hid", "--from-file", "--to-sbus", "--map",
                                    "--raw", "--sbus2", "--lost-ms", "--failsafe-ms", "--status",
                                    "--exit-on-loss", "--seconds", "--trace"} <= options,
          f"--help documents {sorted(options)}")


def map_group(tool, args):
    """A map file reshapes the channels; a bad one exits 2 naming the key (the
    map file's other errors are bridge_logic_test's table)."""
    good = tool.file("good.json", """{"channels": {
        "0": {"source": "constant 1500"},
        "1": {"source": "channel 4", "scale": "raw", "invert": true, "trim": 5}}}""")
    with Simulator(args.sim, tool.work, "map") as sim, Pty() as pty:
        run = tool.run(*bridge_args(sim, pty, "--map", good, "--seconds", "1"))
        sim.stop()
        flowing = Frames(pty).channels(0)
    check(run.status == 0, f"good map: status {run.status}, {run.stderr!r}")

    def mapping(channels):
        out = list(standard(channels))
        out[0] = 1500
        out[1] = max(0, min(2047, 1984 - min(2047, channels[4]) + 5))
        return tuple(out)
    records = [mapping(record) for record in recorded(sim)]
    check(flowing and all(channels in records for channels in flowing),
          "good map: frames do not carry the mapped records")

    bad = tool.file("bad.json", '{"channels": {\n  "4": {"source": "input 12"}\n}}')
    expect_failure(tool, ["--from-port", "x", "--to-sbus", "y", "--map", bad], 2,
                   ["bad.json", "channels.4.source", "0 to 8"])


def file_group(tool, args):
    """--from-file replays a capture at --file-rate; at its end the source is
    quiet and the failsafe follows. --trace ages each record once."""
    records = [tuple((37 * k + 13 * n) % 1300 for k in range(32)) for n in range(40)]
    capture = tool.file("capture.bin", b"".join(kind2_frame(record) for record in records))
    trace = tool.work / "file.trace"
    with Pty() as pty:
        run = tool.run("--from-file", capture, "--to-sbus", pty.path, "--file-rate", "50",
                       "--interval-ms", "7", "--lost-ms", "50", "--failsafe-ms", "300",
                       "--seconds", "1.6", "--trace", str(trace))
        frames = Frames(pty)
        expect_failure(tool, ["--from-file", "/nonexistent/capture", "--to-sbus", pty.path], 3,
                       "/nonexistent/capture")
    check(run.status == 0, f"--from-file: status {run.status}, {run.stderr!r}")
    matched = check_frames_match("--from-file", frames, records, standard)
    distinct = set(frames.channels(0))
    check(len(distinct) >= 35, f"--from-file: {len(distinct)} of 40 records shown")
    check(frames.flags()[-1] == LOST | FAILSAFE, "--from-file: no failsafe after the end")
    check(any(line.startswith("source ended") for line in events(run)), f"{events(run)}")
    # --trace: a line for the first frame that carries each record, none for
    # the frames that only repeat it (SBUS runs at almost three times the rate).
    traced = trace.read_text().splitlines()
    check(len(distinct) <= len(traced) <= len(records), f"--trace: {len(traced)} lines for 40 records")
    print(f"file: {matched} frames matched, {len(distinct)} distinct records")


def live_group(tool, args):
    """The first state line reaches a pipe while the bridge runs."""
    with Simulator(args.sim, tool.work, "live") as sim, Pty() as pty:
        lines = live_lines("state lines", tool.command + bridge_args(sim, pty), stream="stderr")
    check(lines is not None and lines[0].endswith("] ok"), f"first state line {lines}")


def hid_group(tool, args):
    """--from-hid with a stand-in for hidapi: a game controller's report
    drives the channels over each value's width; when it vanishes the
    failsafe follows and the bridge opens it again."""
    report = bytes([0x00, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x0F, 0x00, 0x00, 0x08, 0x40,
                    0x34, 0xF2, 0x10, 0x27, 0x80, 0x00, 0x00])
    values = game_controller_values(report)
    expected = tuple([int(172 + v * 1639 / (2 ** b - 1) + 0.5)
                      for v, b in zip(values, GAME_CONTROLLER_BITS)] + [CENTRE] * 5)
    script = tool.file("hid.script", "device\t046d\tc216\tSER1\tMaker\tPad\t/fake/hidraw0\n"
                       f"report\t{report.hex(' ')}\nvanish\n")
    env = dict(os.environ, LD_PRELOAD=args.fake_hidapi, ZELKOLINK_FAKE_HID=script)
    with Pty() as pty:
        run = tool.run("--from-hid", "046d:c216", "--to-sbus", pty.path, "--seconds", "1.5", env=env)
        frames = Frames(pty)
    check(run.status == 0, f"--from-hid: status {run.status}, {run.stderr!r}")
    flowing = set(frames.channels(0))
    check(flowing == {expected}, f"--from-hid: channels {flowing}, expected {expected}")
    lines = events(run)
    # The report and the loss come at once: either line may be first.
    check(set(lines[:2]) == {"ok", "source lost: HID device 046d:c216 at /fake/hidraw0 went "
                                   "away: it hung up"} and "failsafe" in lines and
          any(line.startswith("source back after 0.5 s") for line in lines),
          f"--from-hid: state lines {lines}")
    check(frames.flags()[-1] == LOST | FAILSAFE, "--from-hid: no failsafe once the reports stop")
    expect_failure(tool, ["--from-hid", "1234:5678", "--to-sbus", "/dev/null"], 3, "1234:5678",
                   env=env)


def wine_group(tool, args):
    """The Windows build, from COM23 (the simulator) to COM24 (a
    pseudo-terminal)."""
    with Simulator(args.sim, tool.work, "wine") as sim, Pty() as pty, \
            wine_com_port(23, sim.path) as device, wine_com_port(24, pty.path) as sbus:
        run = tool.run("--from-port", device, "--to-sbus", sbus, "--seconds", "4")
        # Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event.
        before = len(pty.received())
        with tool.start("--from-port", device, "--to-sbus", sbus) as stopped:
            check(wait_for(lambda: len(pty.received()) >= before + 20 * FRAME_SIZE, 30),
                  "wine Ctrl-C: no frames")
            stopped.signal(signal.SIGINT)
            stopped.finish()
        check(stopped.status == 0 and "(stopped by " in stopped.stderr,
              f"wine Ctrl-C: status {stopped.status}, {stopped.stderr!r}")
        check(run.status == 0 and "raised priority" in run.stderr,
              f"wine: status {run.status}, {run.stderr!r}")
        check(wait_for(lambda: sim.events().count(STOP_EVENT) == 2, 5),
              f"wine: the device did not get two stop frames: {sim.events()}")
        sim.stop()
        frames = Frames(pty)
    check(sim.events()[:1] == ["request 01 00"], f"wine: device events {sim.events()[:3]}")
    matched = check_frames_match("wine", frames, recorded(sim), standard)
    check(matched >= 20, f"wine: {matched} flowing frames")
    check("ok" in events(run), f"wine: state lines {events(run)}")
    print(f"wine: {len(frames.frames)} frames, {matched} matched the record")
    expect_failure(tool, ["--from-port", "COM25", "--to-sbus", "COM26"], 3, "COM25")
    expect_failure(tool, ["--from-port", "COM25", "--to-sbus", "COM26", "--map", "m.json"], 2,
                   "m.json")
    expect_failure(tool, ["--from-hid", "1:2", "--to-sbus", "COM26"], 2,
                   "the Windows build has no --from-hid")


GROUPS = {"flow": flow_group, "failsafe": failsafe_group, "reconnect": reconnect_group,
          "cut": cut_group, "sbus_reconnect": sbus_reconnect_group, "stop": stop_group,
          "map": map_group, "file": file_group, "live": live_group, "hid": hid_group,
          "wine": wine_group}

if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-bridge",
                  lambda parser: (parser.add_argument("--sim", required=True),
                                  parser.add_argument("--fake-hidapi", default=""))))
