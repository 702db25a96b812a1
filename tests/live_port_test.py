#!/usr/bin/env python3
"""Runs zelkolink-dump --port against zelkolink-sim over a pseudo-terminal,
as a user would, and checks rows, exits and what the device was sent.

Live rows are compared with the simulator's --record file decoded offline by
the same tool, one byte per call (--chunk 1). A live row is printed after a
read (up to 255 bytes) that completed a frame, so it must equal the offline
row with the largest offset not above its own, and that offline row must lie
within its read: after the previous live row and less than 256 bytes back.

Groups: link (every exit path, faults, errors), watch (the live view in
tmux), wine (the Windows build under Wine on a COM port pointed at the
simulator's pseudo-terminal)."""
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

from tool_harness import Simulator, check, first_lines, live_lines, main, wait_for

MAX_READ = 255


def offline_rows(dump, record):
    """(offset, values) of the record decoded one byte per call. dump is a
    command (a list, with an emulator first if need be); its output goes
    through a file."""
    command = dump if isinstance(dump, list) else [dump]
    decoded = record.with_suffix(".decoded")
    with open(decoded, "wb") as out:
        subprocess.run(command + ["--chunk", "1", str(record)], stdout=out,
                       stdin=subprocess.DEVNULL, timeout=60, check=True)
    out = decoded.read_text().replace("\r\n", "\n").splitlines()[1:]
    return [(int(line.split(",", 1)[0]), line.split(",", 1)[1]) for line in out]


def live_rows(text, json_rows=False):
    """(time, offset, values as the CSV's value columns) of live output."""
    rows = []
    lines = text.replace("\r\n", "\n").splitlines()
    if json_rows:
        for line in lines:
            row = json.loads(line)
            check(list(row) == ["time", "offset", "inputs", "channels"], f"JSON keys {list(row)}")
            rows.append((row["time"], row["offset"],
                         ",".join(map(str, row["inputs"] + row["channels"]))))
        return rows
    header = ["time", "offset"] + [f"input{k}" for k in range(9)] + [f"channel{k}" for k in range(32)]
    if not check(lines and lines[0] == ",".join(header), f"CSV header {lines[:1]}"):
        return rows
    for line in lines[1:]:
        time_text, offset, values = line.split(",", 2)
        check(re.fullmatch(r"\d+\.\d{3}", time_text), f"time column {time_text!r}")
        rows.append((float(time_text), int(offset), values))
    return rows


def check_against_record(label, rows, dump, record):
    offline = offline_rows(dump, record)
    previous_offset, previous_time = 0, 0.0
    for time_value, offset, values in rows:
        earlier = [row for row in offline if row[0] <= offset]
        match = earlier[-1] if earlier else None
        if not check(match is not None and previous_offset < match[0] > offset - MAX_READ - 1,
                     f"{label}: row at offset {offset} completed no frame within its read"):
            return
        check(match[1] == values, f"{label}: row at offset {offset} differs from the record")
        check(time_value >= previous_time, f"{label}: time goes back at offset {offset}")
        previous_offset, previous_time = offset, time_value


def run_dump(dump, *args, timeout=20):
    done = subprocess.run([dump, *args], capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def one_error_line(label, err, words):
    lines = err.strip().splitlines()
    check(len(lines) == 1 and lines[0].startswith("zelkolink-dump: ") and words in lines[0],
          f"{label}: stderr {err!r} is not one line saying {words!r}")


# ----------------------------------------------------------------- link group

def ended_runs(dump, sim, work):
    """Count, time and a chosen request; the record kinds and the faults."""
    cases = [
        ("count", [], ["--count", "25"], False, "request 01 00"),
        ("seconds", ["--rate", "300"], ["--seconds", "0.4", "--request", "02,7f"], False,
         "request 02 7F"),
        ("kind 0", ["--kind", "0"], ["--count", "10", "--json"], True, "request 01 00"),
        ("kind 1", ["--kind", "1", "--rate", "0"], ["--count", "200"], False, "request 01 00"),
        ("faults", ["--noise", "--corrupt", "0.3", "--echo", "--rate", "0"],
         ["--count", "300", "--json"], True, "request 01 00"),
    ]
    for label, sim_args, dump_args, json_rows, request in cases:
        device = Simulator(sim, work, label.replace(" ", "_"), *sim_args)
        status, out, err = run_dump(dump, "--port", device.path, *dump_args)
        check(status == 0 and err == "", f"{label}: status {status}, stderr {err!r}")
        check(wait_for(lambda: device.saw("stop")), f"{label}: no stop frame arrived")
        device.stop()
        check(device.events()[:1] == [request], f"{label}: events {device.events()[:3]}")
        rows = live_rows(out, json_rows)
        if "--count" in dump_args:
            wanted = int(dump_args[dump_args.index("--count") + 1])
            check(len(rows) == wanted, f"{label}: {len(rows)} rows, expected {wanted}")
        else:
            check(25 <= len(rows), f"{label}: only {len(rows)} rows in 0.4 s at 300 Hz")
        check_against_record(label, rows, dump, device.record)
        if label == "faults":
            check("echo" in device.events(), "faults: the request was not echoed")


def signalled_runs(dump, sim, work):
    """Ctrl-C and SIGTERM end the run with status 0 and the stop frame."""
    for name in ["SIGINT", "SIGTERM"]:
        device = Simulator(sim, work, name, "--rate", "200")
        out_path = work / f"{name}.rows"
        with open(out_path, "wb") as out, open(work / f"{name}.err", "wb") as err:
            dump_process = subprocess.Popen([dump, "--port", device.path], stdout=out, stderr=err)
            wait_for(lambda: out_path.read_text().count("\n") > 6)
            dump_process.send_signal(getattr(signal, name))
            status = dump_process.wait(timeout=10)
        check(status == 0, f"{name}: status {status}")
        check(wait_for(lambda: device.saw("stop")), f"{name}: no stop frame arrived")
        device.stop()
        rows = live_rows(out_path.read_text())
        check(len(rows) > 5, f"{name}: {len(rows)} rows")
        check_against_record(name, rows, dump, device.record)


def closed_pipe_run(dump, sim, work):
    device = Simulator(sim, work, "pipe")
    done = subprocess.run(["bash", "-c", '"$0" --port "$1" | head -3; exit "${PIPESTATUS[0]}"',
                           dump, device.path], capture_output=True, timeout=20)
    check(done.returncode == 0 and done.stderr == b"",
          f"| head: status {done.returncode}, stderr {done.stderr!r}")
    check(len(done.stdout.decode().splitlines()) == 3, "| head: not three lines")
    check(wait_for(lambda: device.saw("stop")), "| head: no stop frame arrived")
    device.stop()


def vanished_run(dump, sim, work):
    """The device killed mid-stream: status 5, every row printed before kept."""
    device = Simulator(sim, work, "vanish", "--rate", "200")
    out_path = work / "vanish.rows"
    with open(out_path, "wb") as out:
        dump_process = subprocess.Popen([dump, "--port", device.path], stdout=out,
                                        stderr=subprocess.PIPE)
        wait_for(lambda: out_path.read_text().count("\n") > 12)
        seen = out_path.read_text()
        seen = seen[:seen.rfind("\n") + 1]
        device.process.kill()
        device.process.wait()
        device.process.stdout.close()
        _, err = dump_process.communicate(timeout=10)
    check(dump_process.returncode == 5, f"vanished: status {dump_process.returncode}")
    one_error_line("vanished", err.decode(), f"{device.path}: device disconnected")
    text = out_path.read_text()
    check(text.startswith(seen) and len(seen) > 0, "vanished: rows printed before were lost")
    recorded = len(device.record.read_bytes())
    rows = [row for row in live_rows(text) if row[1] <= recorded]
    # The kill may land between the simulator's last writes and its record
    # of them: the last few rows may lie beyond the record.
    check(len(rows) >= seen.count("\n") - 5,
          f"vanished: {len(rows)} rows within the {recorded} bytes recorded, {seen.count(chr(10))}"
          " lines printed before")
    check_against_record("vanished", rows, dump, device.record)


def refused_runs(dump, sim, work):
    """A second dump on a held port; ports that cannot be opened; bad usage."""
    device = Simulator(sim, work, "busy")
    with open(work / "first.rows", "wb") as out:
        first = subprocess.Popen([dump, "--port", device.path, "--seconds", "5"], stdout=out)
        wait_for(lambda: device.saw("request 01 00"))
        status, out_text, err = run_dump(dump, "--port", device.path, "--count", "1")
        check(status == 4 and out_text == "", f"second dump: status {status}")
        one_error_line("second dump", err, f"{device.path}: port is in use")
        first.send_signal(signal.SIGINT)
        check(first.wait(timeout=10) == 0, "first dump did not end cleanly")
    check(wait_for(lambda: device.saw("stop")), "first dump sent no stop frame")
    check(device.events().count("request 01 00") == 1, "the second dump reached the device")
    device.stop()

    missing = str(work / "no-such-port")
    cases = [
        (["--port", missing], 3, f"cannot open {missing}: No such file"),
        (["--port", "/dev/null"], 3, "cannot open /dev/null: not a serial port"),
        (["--port", missing, "--watch"], 2, "--watch needs a terminal"),
        (["--count", "3"], 2, "--count needs --port"),
        (["--port", missing, "--chunk", "3"], 2, "--port reads a serial port"),
        (["--port", missing, "some.bin"], 2, "--port reads a serial port"),
        (["--port", missing, "--request", "1"], 2, "--request needs two hex bytes"),
        (["--port", missing, "--request", "01,100"], 2, "--request needs two hex bytes"),
        (["--port", missing, "--baud", "fast"], 2, "--baud needs a whole number"),
        (["--port", missing, "--count", "0"], 2, "--count needs a whole number"),
        (["--port", missing, "--seconds", "-1"], 2, "--seconds needs a number of seconds"),
    ]
    for args, wanted, words in cases:
        status, out, err = run_dump(dump, *args)
        check(status == wanted and out == "", f"{args}: status {status}, expected {wanted}")
        one_error_line(str(args), err, words)


def simulator_edges(sim, work):
    """The simulator's own promises: a stale link replaced and removed at
    exit, a file at the link path left alone, bad options refused."""
    link = work / "device-link"
    link.symlink_to("/nonexistent")
    device = Simulator(sim, work, "link", "--link", str(link))
    check(os.readlink(link) == device.path, "--link does not point at the terminal end")
    check(device.stop() == 0, "the simulator did not end cleanly on SIGTERM")
    check(not os.path.lexists(link), "--link was left behind")
    link.write_text("mine")
    done = subprocess.run([sim, "--link", str(link)], capture_output=True, timeout=10)
    check(done.returncode == 3 and link.read_text() == "mine", "a file at --link was replaced")
    for args in [["--kind", "3"], ["--corrupt", "2"], ["--rate", "x"], ["--bogus"]]:
        done = subprocess.run([sim, *args], capture_output=True, timeout=10)
        check(done.returncode == 2 and done.stdout == b"", f"sim {args}: status {done.returncode}")
    help_text = subprocess.run([sim, "--help"], capture_output=True, timeout=10).stdout.decode()
    for option in ["--rate", "--kind", "--noise", "--corrupt", "--echo", "--record", "--link",
                   "--seed", "Exit status"]:
        check(option in help_text, f"sim --help does not document {option}")


def live_output(dump, sim, work):
    """Rows and log lines reach a pipe while the tools run, not at exit. At
    two frames a second, rows held in a 4 KiB buffer would come out some ten
    seconds late."""
    for label, extra, count in [("CSV rows", [], 2), ("JSON rows", ["--json"], 1)]:
        device = Simulator(sim, work, "live_" + label.split()[0], "--rate", "2")
        lines = live_lines(f"live {label}", [dump, "--port", device.path, *extra], count=count)
        check(lines is None or lines[-1].startswith("{\"time\":" if extra else "0."),
              f"live {label}: {lines}")
        device.stop()

    # The simulator's log: the request it was sent, as the host sends it.
    with subprocess.Popen([sim], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL) as device:
        path = first_lines(device.stdout, 1, 10)
        port = os.open(path[0], os.O_RDWR | os.O_NOCTTY) if path else None
        if port is not None:
            os.write(port, bytes([0xFA, 0xE5, 0x02, 0x00, 0x01, 0x00, 0x5F]))
        logged = first_lines(device.stderr, 1, 5)
        check(logged == ["request 01 00"] and device.poll() is None,
              f"simulator log: {logged} within 5 s while running")
        device.send_signal(signal.SIGINT)
        check(device.wait(timeout=10) == 0, "simulator: no clean exit after SIGINT")
        if port is not None:
            os.close(port)


def link_group(tool, args):
    work = tool.work
    ended_runs(args.tool, args.sim, work)
    signalled_runs(args.tool, args.sim, work)
    closed_pipe_run(args.tool, args.sim, work)
    vanished_run(args.tool, args.sim, work)
    refused_runs(args.tool, args.sim, work)
    simulator_edges(args.sim, work)
    live_output(args.tool, args.sim, work)
    help_text = run_dump(args.tool, "--help")[1]
    for option in ["--port", "--baud", "--request", "--count", "--seconds", "--watch", "5 when"]:
        check(option in help_text, f"zelkolink-dump --help does not document {option}")


# ---------------------------------------------------------------- watch group

def watch_group(tool, args):
    work = tool.work
    """The view as a person sees it: tmux's 80x24 pane, captured twice."""
    device = Simulator(args.sim, work, "watch")
    session = f"zelkolink-watch-{os.getpid()}"
    tmux = ["tmux", "-L", session]
    subprocess.run(tmux + ["new-session", "-d", "-x", "80", "-y", "24", "-s", session,
                           "sh"], check=True, timeout=10)

    def pane():
        return subprocess.run(tmux + ["capture-pane", "-p", "-t", session], capture_output=True,
                              timeout=10).stdout.decode()

    def pane_flag(name):
        return subprocess.run(tmux + ["display-message", "-p", "-t", session, f"#{{{name}}}"],
                              capture_output=True, timeout=10).stdout.decode().strip()
    try:
        subprocess.run(tmux + ["send-keys", "-t", session,
                               f"'{args.tool}' --port {device.path} --watch; echo exit=$?",
                               "Enter"], check=True, timeout=10)
        check(wait_for(lambda: "frames/s" in pane() and "last frame" in pane()),
              f"watch: the view did not come up:\n{pane()}")
        first = pane()
        time.sleep(0.5)
        second = pane()
        for label in ["Inputs", "Channels", "in0", "in8", "ch0", "ch31", "bytes/s", "frames/s"]:
            check(label in first, f"watch: no {label!r} in the view:\n{first}")
        check(len(first.splitlines()) <= 24 and max(map(len, first.splitlines())) <= 80,
              "watch: the view does not fit 80x24")
        check(pane_flag("alternate_on") == "1" and pane_flag("cursor_flag") == "0",
              "watch: not on the alternate screen with the cursor hidden")
        numbers = [re.findall(r"ch\d+ +(\d+)", text) for text in (first, second)]
        check(len(numbers[0]) == 32 and numbers[0] != numbers[1],
              f"watch: channel values did not change:\n{first}\n{second}")
        subprocess.run(tmux + ["send-keys", "-t", session, "C-c"], check=True, timeout=10)
        check(wait_for(lambda: "exit=0" in pane()), f"watch: no clean exit:\n{pane()}")
        after = pane()
        check("frames/s" not in after and pane_flag("alternate_on") == "0" and
              pane_flag("cursor_flag") == "1", f"watch: terminal not restored:\n{after}")
        check(wait_for(lambda: device.saw("stop")), "watch: no stop frame arrived")
    finally:
        subprocess.run(tmux + ["kill-server"], timeout=10)
        device.stop()


# ----------------------------------------------------------------- wine group

def wine_group(tool, args):
    work = tool.work
    """The Windows build on COM5, a symlink in its Wine prefix to the
    simulator's pseudo-terminal. Wine's output goes to files: wineserver
    keeps inherited pipes open."""
    prefix = pathlib.Path(os.environ["WINEPREFIX"])
    com5 = prefix / "dosdevices" / "com5"
    device = Simulator(args.sim, work, "wine")
    if os.path.lexists(com5):
        com5.unlink()
    com5.symlink_to(device.path)
    out_path, err_path = work / "wine.rows", work / "wine.err"
    try:
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            status = subprocess.run(args.emulator.split(";") + [args.tool, "--port", "COM5",
                                                                "--count", "20"],
                                    stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                    timeout=60).returncode
    finally:
        com5.unlink()
    err_text = err_path.read_text()
    check(status == 0 and err_text == "", f"wine: status {status}, stderr {err_text!r}")
    check(wait_for(lambda: device.saw("stop")), "wine: no stop frame arrived")
    device.stop()
    check(device.events()[:1] == ["request 01 00"], f"wine: events {device.events()[:3]}")
    rows = live_rows(out_path.read_text())
    check(len(rows) == 20, f"wine: {len(rows)} rows")
    check_against_record("wine", rows, args.emulator.split(";") + [args.tool], device.record)
    print(f"wine: {len(rows)} rows over {rows[-1][1] if rows else 0} bytes, "
          f"{rows[-1][0] if rows else 0:.3f} s")


GROUPS = {"link": link_group, "watch": watch_group, "wine": wine_group}


def extra_arguments(parser):
    parser.add_argument("--sim", required=True, help="zelkolink-sim to run")


if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-dump", extra_arguments))
