#!/usr/bin/env python3
"""Runs zelkolink-sbus against a pseudo-terminal and checks what arrives.

The test holds both ends of the pseudo-terminal: the tool opens the terminal
end by its path (on Windows, through a Wine COM port linked to that path) and
the test reads the frames from the controlling end, checks them against the
bit packer of wire_models (not the library's), and reads the line settings
the tool set through the terminal end it keeps open.

Groups: frames, cadence, stop, errors (native builds) and wine, the Windows
build under Wine on a COM port linked to a pseudo-terminal."""
import fcntl
import os
import re
import signal
import sys
import termios
import time

from tool_harness import Pty, check, expect_failure, main, wine_com_port
from wire_models import (SBUS2_END_BYTES, SBUS_FRAME_SIZE as FRAME_SIZE, SbusFrames, sbus_channels,
                         sbus_frame, sbus_line_faults, standard_channels)


def sweep_value(ms, low=172, high=1811):
    """--sweep as --help defines it: a 4 s triangle over LO..HI (default
    172..1811), at the middle (rounded) and rising at 0."""
    phase = (ms + 1000) % 4000
    rise = phase if phase < 2000 else 4000 - phase
    return low + ((high - low) * rise + 1000) // 2000


def wait_for_frames(pty, count, timeout=20):
    return pty.wait_for_bytes(count * FRAME_SIZE, timeout)


def check_frames(data, expected_channels, end_bytes, what):
    """Every byte in whole frames, each with the start byte, the channels and
    the end byte expected. end_bytes: one per frame."""
    if not check(len(data) % FRAME_SIZE == 0, f"{what}: {len(data)} bytes, not whole frames"):
        return
    frames = [data[k:k + FRAME_SIZE] for k in range(0, len(data), FRAME_SIZE)]
    for n, frame in enumerate(frames):
        wanted = sbus_frame(expected_channels, end=end_bytes[n])
        if not check(frame == wanted, f"{what}: frame {n} is {frame.hex()}, expected {wanted.hex()}"):
            return


# ----------------------------------------------------------------- the runs

SUMMARY = re.compile(r"zelkolink-sbus: (\d+) frames sent to (\S+), mean interval ([\d.]+ ms|-), "
                     r"largest lateness ([\d.]+) ms, (\d+) frames dropped, (raised|normal) priority "
                     r"\(([^)]*)\)")


def summary_of(run):
    found = SUMMARY.search(run.stderr)
    check(found, f"{run.args}: no summary line in {run.stderr!r}")
    if not found:
        return None
    sent, port, mean, lateness, dropped, priority, ending = found.groups()
    mean = None if mean == "-" else float(mean.split()[0])
    return int(sent), port, mean, float(lateness), int(dropped), priority, ending


CHANNELS = [0, 1, 2, 1023, 1024, 2047, 172, 992, 1811, 5, 100, 2000, 1500, 700, 300, 2046]


def csv(values):
    return ",".join(str(v) for v in values)


def run_on_pty(tool, pty, port, args, count):
    """Starts the tool on `port`, reads the settings once frames flow, and
    returns the finished run and the settings."""
    with tool.start("--port", port, "--count", str(count), *args) as run:
        check(wait_for_frames(pty, 1), f"{args}: no frame arrived")
        settings = pty.settings()
        run.finish()
    wait_for_frames(pty, count, timeout=2)
    return run, settings


def frames_group(tool, args):
    with Pty() as pty:
        pty.set_rate(9600)
        before = pty.settings()
        run, during = run_on_pty(tool, pty, pty.path, ["--channels", csv(CHANNELS),
                                                        "--interval-ms", "5"], 30)
        check(run.status == 0, f"--channels: status {run.status}, {run.stderr!r}")
        check(not sbus_line_faults(during), f"--channels: {sbus_line_faults(during)} while sending")
        check(pty.settings() == before, "the port's settings were not put back")
        check("warning" not in run.stderr, f"a rate warning on Linux: {run.stderr!r}")
        check(summary_of(run)[:2] == (30, pty.path), f"summary: {run.stderr!r}")
        check_frames(pty.received(), CHANNELS, [0] * 30, "--channels")

    # Standard values (none here sits on a rounding edge).
    standard = [0, 1, 100, 1199, 1200, 1201, 65535, 600, 333, 77, 999, 1100, 12, 250, 401, 803]
    with Pty() as pty:
        run, _ = run_on_pty(tool, pty, pty.path, ["--std", csv(standard), "--interval-ms", "4"], 3)
        check(run.status == 0, f"--std: status {run.status}")
        check_frames(pty.received(), standard_channels(standard), [0] * 3, "--std")

    # SBUS2 with the default values: the end byte cycles from the first frame.
    with Pty() as pty:
        run, _ = run_on_pty(tool, pty, pty.path, ["--sbus2", "--interval-ms", "4"], 9)
        check(run.status == 0, f"--sbus2: status {run.status}")
        check_frames(pty.received(), [992] * 16, [SBUS2_END_BYTES[n % 4] for n in range(9)],
                     "--sbus2")

    # The sweep follows each frame's slot; a slot dropped on a busy machine
    # skips its value, so each frame is matched to the next slot with its value.
    with Pty() as pty:
        run, _ = run_on_pty(tool, pty, pty.path, ["--sweep", "--interval-ms", "4"], 40)
        check(run.status == 0, f"--sweep: status {run.status}")
        data = pty.received()
        slot = -1
        for n in range(0, len(data) // FRAME_SIZE):
            values = sbus_channels(data[n * FRAME_SIZE:(n + 1) * FRAME_SIZE])
            if not check(len(set(values)) == 1, f"--sweep: frame {n} channels differ: {values}"):
                break
            slot = next((s for s in range(slot + 1, slot + 200) if sweep_value(4 * s) == values[0]),
                        None)
            if not check(slot is not None, f"--sweep: frame {n} value {values[0]} out of turn"):
                break
        check(len(data) == 40 * FRAME_SIZE, f"--sweep: {len(data)} bytes for 40 frames")


def cadence_group(tool, args):
    """150 frames at 7 ms with the tool frozen for 100 ms after 20: the frames
    it missed are dropped and counted, and the rest keep the schedule, so the
    run spans exactly (frames - 1 + dropped) intervals."""
    interval, count = 7, 150
    with Pty() as pty, tool.start("--port", pty.path, "--interval-ms", str(interval),
                                  "--count", str(count)) as run:
        wait_for_frames(pty, 20)
        run.process.send_signal(signal.SIGSTOP)
        time.sleep(0.1)
        run.process.send_signal(signal.SIGCONT)
        run.finish()
        wait_for_frames(pty, count, timeout=2)
        times = SbusFrames(pty).times()
    check(run.status == 0, f"cadence: status {run.status}")
    check(len(times) == count, f"cadence: {len(times)} frames arrived, not {count}")
    summary = summary_of(run)
    if summary is None or len(times) != count:
        return
    sent, _, mean, lateness, dropped, priority, _ = summary
    check(sent == count, f"cadence: summary says {sent} frames")
    # root may run a thread at real-time priority, so the tool must have.
    check(priority == "raised" or os.geteuid() != 0, f"cadence: {priority} priority as root")
    check(dropped >= 10, f"cadence: {dropped} frames dropped over a 100 ms stall")
    check(lateness >= 70, f"cadence: largest lateness {lateness} ms over a 100 ms stall")
    spanned_ms = (count - 1 + dropped) * interval
    # Generous: the machine may be busy; a schedule that drifted by a
    # fraction of each interval, or burst out the missed frames, is far off.
    check(abs(mean * (count - 1) - spanned_ms) < 60,
          f"cadence: mean {mean} ms over {count - 1} steps, schedule spans {spanned_ms} ms")
    received_ms = (times[-1] - times[0]) * 1000
    check(abs(received_ms - spanned_ms) < 60,
          f"cadence: frames arrived over {received_ms:.1f} ms, schedule spans {spanned_ms} ms")


def stop_group(tool, args):
    """Ctrl-C and SIGTERM end the run after whole frames, with the summary and
    the port put back; a hang-up ends it with status 5 and the summary."""
    for name in ["SIGINT", "SIGTERM"]:
        with Pty() as pty:
            before = pty.settings()
            with tool.start("--port", pty.path, "--interval-ms", "5") as run:
                check(wait_for_frames(pty, 10), f"{name}: no frames")
                run.process.send_signal(getattr(signal, name))
                run.finish()
            time.sleep(0.05)
            check(run.status == 0, f"{name}: status {run.status}, {run.stderr!r}")
            summary = summary_of(run)
            data = pty.received()
            check(summary and summary[0] * FRAME_SIZE == len(data),
                  f"{name}: summary {summary}, {len(data)} bytes arrived")
            check(summary and summary[6] == f"stopped by {name}", f"{name}: {run.stderr!r}")
            check_frames(data, [992] * 16, [0] * (len(data) // FRAME_SIZE), name)
            check(pty.settings() == before, f"{name}: the port's settings were not put back")

    with Pty() as pty, tool.start("--port", pty.path, "--interval-ms", "5") as run:
        check(wait_for_frames(pty, 5), "hang-up: no frames")
        pty.hang_up()
        run.finish()
    check(run.status == 5, f"hang-up: status {run.status}, {run.stderr!r}")
    check("disconnected" in run.stderr and pty.path in run.stderr, f"hang-up: {run.stderr!r}")
    summary = summary_of(run)
    check(summary and summary[6] == "port lost", f"hang-up: {run.stderr!r}")


def errors_group(tool, args):
    # The options' refusals are sbus_tool_test's table; these two show that
    # the program gives them as one line and status 2.
    for args, words in [([], ["--port is required"]),
                        (["--port", "/dev/null", "--channels", "1,2,3"], ["16 whole numbers",
                                                                          "got 3"])]:
        expect_failure(tool, args, 2, words + ["--help"])

    run = tool.run("--help")
    check(run.status == 0 and run.stderr == "", f"--help: status {run.status}")
    for option in ["--port", "--channels", "--std", "--sweep", "--range LO,HI", "172..1811", "992",
                   "--sbus2", "--interval-ms",
                   "--count", "--help", "inverter", "Exit status"]:
        check(option in run.stdout, f"--help does not mention {option}")

    expect_failure(tool, ["--port", "/nonexistent/ttyUSB9"], 3,
                   ["/nonexistent/ttyUSB9", "No such file"])
    not_a_port = tool.work / "plain-file"
    not_a_port.write_bytes(b"")
    expect_failure(tool, ["--port", str(not_a_port)], 3, [str(not_a_port), "not a serial port"])

    # Held by another process: the lock a serial tool takes on the port.
    with Pty() as pty:
        holder = os.open(pty.path, os.O_RDWR | os.O_NOCTTY)
        try:
            fcntl.flock(holder, fcntl.LOCK_EX)
            expect_failure(tool, ["--port", pty.path], 4, [pty.path, "in use"])
        finally:
            os.close(holder)
        check(pty.received() == b"", "a refused run sent bytes")


def wine_group(tool, args):
    """The Windows build on a Wine COM port linked to a pseudo-terminal."""
    with Pty() as pty, wine_com_port(21, pty.path) as port:
        run, during = run_on_pty(tool, pty, port, ["--channels", csv(CHANNELS)], 20)
        check(run.status == 0, f"wine: status {run.status}, {run.stderr!r}")
        check_frames(pty.received(), CHANNELS, [0] * 20, "wine --channels")
        summary = summary_of(run)
        check(summary and summary[:2] == (20, port), f"wine: summary {run.stderr!r}")
        check(summary and summary[5] == "raised", "wine: the sending thread kept normal priority")
        # Wine sets 100000 through a custom divisor that a pseudo-terminal
        # ignores: the terminal keeps 38400 and two stop bits, the program
        # reads 38400 back, and the tool says so.
        _, _, cflag, _, _, _, _, ospeed = during
        print(f"wine: the pseudo-terminal read {ospeed} baud, "
              f"{'2' if cflag & termios.CSTOPB else '1'} stop bits while the tool sent")
        check(cflag & termios.CSTOPB, "wine: one stop bit while the tool sent")
        if ospeed != 100000:
            check(f"warning: {port} reports {ospeed} baud, not the 100000" in run.stderr,
                  f"wine: no rate warning in {run.stderr!r}")

        # SBUS2 until Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event.
        before = len(pty.received())
        with tool.start("--port", port, "--sbus2", "--interval-ms", "7") as run:
            check(wait_for_frames(pty, before // FRAME_SIZE + 8), "wine --sbus2: no frames")
            run.process.send_signal(signal.SIGINT)
            run.finish()
        time.sleep(0.1)
        data = pty.received()[before:]
        check(run.status == 0, f"wine --sbus2: status {run.status}, {run.stderr!r}")
        summary = summary_of(run)
        check(summary and summary[0] * FRAME_SIZE == len(data) and summary[6] == "stopped by Ctrl-C",
              f"wine --sbus2: {len(data)} bytes arrived, {run.stderr!r}")
        check_frames(data, [992] * 16, [SBUS2_END_BYTES[n % 4] for n in range(len(data) // 25)],
                     "wine --sbus2")
    expect_failure(tool, ["--port", "COM22"], 3, ["COM22"])


GROUPS = {"frames": frames_group, "cadence": cadence_group, "stop": stop_group,
          "errors": errors_group, "wine": wine_group}


if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-sbus"))
