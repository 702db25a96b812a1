#!/usr/bin/env python3
"""Runs zelkolink-sbus against a pseudo-terminal and checks what arrives.

The test holds both ends of the pseudo-terminal: the tool opens the terminal
end by its path (on Windows, through a Wine COM port linked to that path) and
the test reads the frames from the controlling end, checks them against a bit
packer written here (not the library's), and reads the line settings the tool
set through the terminal end it keeps open.

Groups: frames, cadence, stop, errors (native builds) and wine, the Windows
build under Wine on a COM port linked to a pseudo-terminal."""
import fcntl
import os
import pathlib
import re
import signal
import sys
import termios
import time

from tool_harness import Pty, Run, check, expect_failure, main


# ------------------------------------------------------------ expected frames

FRAME_SIZE, START = 25, 0x0F
SBUS2_END_BYTES = [0x04, 0x14, 0x24, 0x34]


def packed(channels):
    """Bytes 1..22 of a frame: sixteen 11-bit values, least significant bit first."""
    bits = 0
    for k, value in enumerate(channels):
        bits |= value << (11 * k)
    return bits.to_bytes(22, "little")


def unpacked(frame):
    bits = int.from_bytes(frame[1:23], "little")
    return [(bits >> (11 * k)) & 0x7FF for k in range(16)]


def sweep_value(ms, low=172, high=1811):
    """--sweep as --help defines it: a 4 s triangle over LO..HI (default
    172..1811), at the middle (rounded) and rising at 0."""
    phase = (ms + 1000) % 4000
    rise = phase if phase < 2000 else 4000 - phase
    return low + ((high - low) * rise + 1000) // 2000


# ------------------------------------------------------------ the pseudo-terminal

def frame_times(pty):
    """When each complete frame's last byte arrived."""
    times, total = [], 0
    for arrived, data in pty.timed_chunks():
        total += len(data)
        times += [arrived] * (total // FRAME_SIZE - len(times))
    return times


def wait_for_frames(pty, count, timeout=20):
    return pty.wait_for_bytes(count * FRAME_SIZE, timeout)


def check_frames(data, expected_channels, end_bytes, what):
    """Every byte in whole frames, each with the start byte, the channels and
    the end byte expected. end_bytes: one per frame."""
    if not check(len(data) % FRAME_SIZE == 0, f"{what}: {len(data)} bytes, not whole frames"):
        return
    frames = [data[k:k + FRAME_SIZE] for k in range(0, len(data), FRAME_SIZE)]
    for n, frame in enumerate(frames):
        wanted = bytes([START]) + packed(expected_channels) + bytes([0, end_bytes[n]])
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
    run = tool.start("--port", port, "--count", str(count), *args)
    check(wait_for_frames(pty, 1), f"{args}: no frame arrived")
    settings = pty.settings()
    run.finish()
    wait_for_frames(pty, count, timeout=2)
    return run, settings


def check_sbus_line(settings, what):
    _, _, cflag, _, _, _, _, ospeed = settings
    check(ospeed == 100000, f"{what}: the port runs at {ospeed} baud while the tool sends")
    check(cflag & termios.CSTOPB, f"{what}: one stop bit while the tool sends")
    check(cflag & termios.CSIZE == termios.CS8, f"{what}: not 8 data bits")
    # A pseudo-terminal drops PARENB, so even parity cannot be read back here.


def frames_group(tool, args):
    pty = Pty()
    try:
        pty.set_rate(9600)
        before = pty.settings()
        run, during = run_on_pty(tool, pty, pty.path, ["--channels", csv(CHANNELS),
                                                        "--interval-ms", "5"], 30)
        check(run.status == 0, f"--channels: status {run.status}, {run.stderr!r}")
        check_sbus_line(during, "--channels")
        check(pty.settings() == before, "the port's settings were not put back")
        check("warning" not in run.stderr, f"a rate warning on Linux: {run.stderr!r}")
        check(summary_of(run)[:2] == (30, pty.path), f"summary: {run.stderr!r}")
        check_frames(pty.received(), CHANNELS, [0] * 30, "--channels")
    finally:
        pty.close()

    # Standard values: x 1.706, truncated, at most 2047 (none here sits on a
    # rounding edge).
    standard = [0, 1, 100, 1199, 1200, 1201, 65535, 600, 333, 77, 999, 1100, 12, 250, 401, 803]
    pty = Pty()
    try:
        run, _ = run_on_pty(tool, pty, pty.path, ["--std", csv(standard), "--interval-ms", "4"], 3)
        check(run.status == 0, f"--std: status {run.status}")
        check_frames(pty.received(), [min(x * 1706 // 1000, 2047) for x in standard], [0] * 3,
                     "--std")
    finally:
        pty.close()

    # SBUS2 with the default values: the end byte cycles from the first frame.
    pty = Pty()
    try:
        run, _ = run_on_pty(tool, pty, pty.path, ["--sbus2", "--interval-ms", "4"], 9)
        check(run.status == 0, f"--sbus2: status {run.status}")
        check_frames(pty.received(), [992] * 16, [SBUS2_END_BYTES[n % 4] for n in range(9)],
                     "--sbus2")
    finally:
        pty.close()

    # The sweep follows each frame's slot; a slot dropped on a busy machine
    # skips its value, so each frame is matched to the next slot with its value.
    pty = Pty()
    try:
        run, _ = run_on_pty(tool, pty, pty.path, ["--sweep", "--interval-ms", "4"], 40)
        check(run.status == 0, f"--sweep: status {run.status}")
        data = pty.received()
        slot = -1
        for n in range(0, len(data) // FRAME_SIZE):
            values = unpacked(data[n * FRAME_SIZE:(n + 1) * FRAME_SIZE])
            if not check(len(set(values)) == 1, f"--sweep: frame {n} channels differ: {values}"):
                break
            slot = next((s for s in range(slot + 1, slot + 200) if sweep_value(4 * s) == values[0]),
                        None)
            if not check(slot is not None, f"--sweep: frame {n} value {values[0]} out of turn"):
                break
        check(len(data) == 40 * FRAME_SIZE, f"--sweep: {len(data)} bytes for 40 frames")
    finally:
        pty.close()


def cadence_group(tool, args):
    """150 frames at 7 ms with the tool frozen for 100 ms after 20: the frames
    it missed are dropped and counted, and the rest keep the schedule, so the
    run spans exactly (frames - 1 + dropped) intervals."""
    interval, count = 7, 150
    pty = Pty()
    try:
        run = tool.start("--port", pty.path, "--interval-ms", str(interval), "--count", str(count))
        wait_for_frames(pty, 20)
        run.process.send_signal(signal.SIGSTOP)
        time.sleep(0.1)
        run.process.send_signal(signal.SIGCONT)
        run.finish()
        wait_for_frames(pty, count, timeout=2)
        times = frame_times(pty)
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
    finally:
        pty.close()


def stop_group(tool, args):
    """Ctrl-C and SIGTERM end the run after whole frames, with the summary and
    the port put back; a hang-up ends it with status 5 and the summary."""
    for name in ["SIGINT", "SIGTERM"]:
        pty = Pty()
        try:
            before = pty.settings()
            run = tool.start("--port", pty.path, "--interval-ms", "5")
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
        finally:
            pty.close()

    pty = Pty()
    try:
        run = tool.start("--port", pty.path, "--interval-ms", "5")
        check(wait_for_frames(pty, 5), "hang-up: no frames")
        pty.hang_up()
        run.finish()
        check(run.status == 5, f"hang-up: status {run.status}, {run.stderr!r}")
        check("disconnected" in run.stderr and pty.path in run.stderr, f"hang-up: {run.stderr!r}")
        summary = summary_of(run)
        check(summary and summary[6] == "port lost", f"hang-up: {run.stderr!r}")
    finally:
        pty.close()


USAGE_ERRORS = [
    ([], ["--port is required"]),
    (["--port"], ["--port needs a port name"]),
    (["--port", "/dev/null", "--channels", "1,2,3"], ["16 whole numbers", "got 3"]),
    (["--port", "/dev/null", "--channels", csv([0] * 17)], ["16 whole numbers", "got 17"]),
    (["--port", "/dev/null", "--channels", csv([2048] + [0] * 15)], ["value 0", "'2048'"]),
    (["--port", "/dev/null", "--channels", "1,,2" + ",0" * 13], ["value 1", "''"]),
    (["--port", "/dev/null", "--std", csv([65536] + [0] * 15)], ["--std value 0", "65535"]),
    (["--port", "/dev/null", "--interval-ms=1001"], ["--interval-ms", "4 to 1000", "'1001'"]),
    (["--port", "/dev/null", "--count", "0"], ["--count", "'0'"]),
    (["--port", "/dev/null", "--sweep", "--channels", csv([0] * 16)], ["choose one", "--sweep"]),
    (["--port", "/dev/null", "--fast"], ["unknown option '--fast'"]),
    (["--port", "/dev/null", "extra"], ["unexpected argument 'extra'"]),
]


def errors_group(tool, args):
    for args, words in USAGE_ERRORS:
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
    pty = Pty()
    try:
        holder = os.open(pty.path, os.O_RDWR | os.O_NOCTTY)
        fcntl.flock(holder, fcntl.LOCK_EX)
        expect_failure(tool, ["--port", pty.path], 4, [pty.path, "in use"])
        os.close(holder)
        check(pty.received() == b"", "a refused run sent bytes")
    finally:
        pty.close()


def wine_group(tool, args):
    """The Windows build on a Wine COM port linked to a pseudo-terminal."""
    dosdevices = pathlib.Path(os.environ["WINEPREFIX"]) / "dosdevices"
    link, port = dosdevices / "com21", "COM21"
    pty = Pty()
    try:
        dosdevices.mkdir(parents=True, exist_ok=True)
        link.unlink(missing_ok=True)
        link.symlink_to(pty.path)
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
        run = tool.start("--port", port, "--sbus2", "--interval-ms", "7")
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
    finally:
        link.unlink(missing_ok=True)
        pty.close()
    expect_failure(tool, ["--port", "COM22"], 3, ["COM22"])


GROUPS = {"frames": frames_group, "cadence": cadence_group, "stop": stop_group,
          "errors": errors_group, "wine": wine_group}


if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-sbus"))
