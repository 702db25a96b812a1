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
import re
import signal
import subprocess
import sys
import time

from tool_harness import (Simulator, Tool, check, expect_failure, first_lines, live_lines, main,
                          one_error_line, wait_for, wine_com_port)
from wire_models import request_frame

MAX_READ = 255


def offline_rows(tool, record):
    """(offset, values) of the record decoded by the tool one byte per call."""
    run = tool.run("--chunk", "1", str(record), timeout=60)
    check(run.status == 0 and run.stderr == "", f"offline decode: status {run.status}, "
                                                 f"{run.stderr!r}")
    return [(int(line.split(",", 1)[0]), line.split(",", 1)[1])
            for line in run.stdout.splitlines()[1:]]


def live_rows(text, json_rows=False):
    """(time, offset, values as the CSV's value columns) of live output."""
    rows = []
    lines = text.splitlines()
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


def check_against_record(label, rows, tool, record):
    offline = offline_rows(tool, record)
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


# ----------------------------------------------------------------- link group

def ended_runs(tool, sim, work):
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
        with Simulator(sim, work, label.replace(" ", "_"), *sim_args) as device:
            run = tool.run("--port", device.path, *dump_args, timeout=20)
            check(run.status == 0 and run.stderr == "",
                  f"{label}: status {run.status}, stderr {run.stderr!r}")
            check(wait_for(lambda: device.saw("stop")), f"{label}: no stop frame arrived")
        check(device.events()[:1] == [request], f"{label}: events {device.events()[:3]}")
        rows = live_rows(run.stdout, json_rows)
        if "--count" in dump_args:
            wanted = int(dump_args[dump_args.index("--count") + 1])
            check(len(rows) == wanted, f"{label}: {len(rows)} rows, expected {wanted}")
        else:
            check(25 <= len(rows), f"{label}: only {len(rows)} rows in 0.4 s at 300 Hz")
        check_against_record(label, rows, tool, device.record)
        if label == "faults":
            check("echo" in device.events(), "faults: the request was not echoed")


def signalled_runs(tool, sim, work):
    """Ctrl-C and SIGTERM end the run with status 0 and the stop frame."""
    for name in ["SIGINT", "SIGTERM"]:
        with Simulator(sim, work, name, "--rate", "200") as device:
            with tool.start("--port", device.path) as run:
                wait_for(lambda: run.output().count("\n") > 6)
                run.signal(getattr(signal, name))
                run.finish(10)
            check(run.status == 0, f"{name}: status {run.status}")
            check(wait_for(lambda: device.saw("stop")), f"{name}: no stop frame arrived")
        rows = live_rows(run.stdout)
        check(len(rows) > 5, f"{name}: {len(rows)} rows")
        check_against_record(name, rows, tool, device.record)


def closed_pipe_run(tool, sim, work):
    with Simulator(sim, work, "pipe") as device:
        done = subprocess.run(["bash", "-c", '"$@" | head -3; exit "${PIPESTATUS[0]}"', "bash",
                               *tool.command, "--port", device.path], capture_output=True,
                              timeout=20)
        check(done.returncode == 0 and done.stderr == b"",
              f"| head: status {done.returncode}, stderr {done.stderr!r}")
        check(len(done.stdout.decode().splitlines()) == 3, "| head: not three lines")
        check(wait_for(lambda: device.saw("stop")), "| head: no stop frame arrived")


def vanished_run(tool, sim, work):
    """The device killed mid-stream: status 5, every row printed before kept."""
    with Simulator(sim, work, "vanish", "--rate", "200") as device, \
            tool.start("--port", device.path) as run:
        wait_for(lambda: run.output().count("\n") > 12)
        seen = run.output()
        seen = seen[:seen.rfind("\n") + 1]
        device.process.kill()
        device.process.wait()
        run.finish(10)
    check(run.status == 5, f"vanished: status {run.status}")
    one_error_line(tool, "vanished", run.stderr, f"{device.path}: device disconnected")
    check(run.stdout.startswith(seen) and len(seen) > 0, "vanished: rows printed before were lost")
    recorded = len(device.record.read_bytes())
    rows = [row for row in live_rows(run.stdout) if row[1] <= recorded]
    # The kill may land between the simulator's last writes and its record
    # of them: the last few rows may lie beyond the record.
    check(len(rows) >= seen.count("\n") - 5,
          f"vanished: {len(rows)} rows within the {recorded} bytes recorded, {seen.count(chr(10))}"
          " lines printed before")
    check_against_record("vanished", rows, tool, device.record)


def refused_runs(tool, sim, work):
    """A second dump on a held port; ports that cannot be opened; bad usage."""
    with Simulator(sim, work, "busy") as device:
        with tool.start("--port", device.path, "--seconds", "5") as first:
            wait_for(lambda: device.saw("request 01 00"))
            expect_failure(tool, ["--port", device.path, "--count", "1"], 4,
                           f"{device.path}: port is in use")
            first.signal(signal.SIGINT)
            first.finish(10)
        check(first.status == 0, "first dump did not end cleanly")
        check(wait_for(lambda: device.saw("stop")), "first dump sent no stop frame")
        check(device.events().count("request 01 00") == 1, "the second dump reached the device")

    missing = str(work / "no-such-port")
    for args, status, words in [
            (["--port", missing], 3, f"cannot open {missing}: No such file"),
            (["--port", "/dev/null"], 3, "cannot open /dev/null: not a serial port"),
            (["--port", missing, "--watch"], 2, "--watch needs a terminal"),
            # The options' refusals are zelkolink_dump_options_test's table.
            (["--count", "3"], 2, "--count needs --port"),
            (["--port", missing, "--request", "1"], 2, "--request needs two hex bytes")]:
        expect_failure(tool, args, status, words)


def simulator_edges(sim, work):
    """The simulator's own promises: a stale link replaced and removed at
    exit, a file at the link path left alone, bad options refused."""
    link = work / "device-link"
    link.symlink_to("/nonexistent")
    with Simulator(sim, work, "link", "--link", str(link)) as device:
        check(os.readlink(link) == device.path, "--link does not point at the terminal end")
        check(device.stop() == 0, "the simulator did not end cleanly on SIGTERM")
    check(not os.path.lexists(link), "--link was left behind")
    link.write_text("mine")
    sim_tool = Tool([sim], work, "zelkolink-sim")
    run = sim_tool.run("--link", str(link), timeout=10)
    check(run.status == 3 and link.read_text() == "mine", "a file at --link was replaced")
    for args in [["--kind", "3"], ["--corrupt", "2"], ["--rate", "x"], ["--bogus"]]:
        expect_failure(sim_tool, args, 2, [args[0], "(see --help)"])
    help_text = sim_tool.run("--help", timeout=10).stdout
    for option in ["--rate", "--kind", "--noise", "--corrupt", "--echo", "--record", "--link",
                   "--seed", "Exit status"]:
        check(option in help_text, f"sim --help does not document {option}")


def live_output(tool, sim, work):
    """Rows and log lines reach a pipe while the tools run, not at exit. At
    two frames a second, rows held in a 4 KiB buffer would come out some ten
    seconds late."""
    for label, extra, count in [("CSV rows", [], 2), ("JSON rows", ["--json"], 1)]:
        with Simulator(sim, work, "live_" + label.split()[0], "--rate", "2") as device:
            lines = live_lines(f"live {label}", tool.command + ["--port", device.path, *extra],
                               count=count)
        check(lines is None or lines[-1].startswith("{\"time\":" if extra else "0."),
              f"live {label}: {lines}")

    # The simulator's log: the request it was sent, as the host sends it.
    with subprocess.Popen([sim], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL) as device:
        path = first_lines(device.stdout, 1, 10)
        port = os.open(path[0], os.O_RDWR | os.O_NOCTTY) if path else None
        try:
            if port is not None:
                os.write(port, request_frame())
            logged = first_lines(device.stderr, 1, 5)
            check(logged == ["request 01 00"] and device.poll() is None,
                  f"simulator log: {logged} within 5 s while running")
            device.send_signal(signal.SIGINT)
            check(device.wait(timeout=10) == 0, "simulator: no clean exit after SIGINT")
        finally:
            if port is not None:
                os.close(port)
            if device.poll() is None:
                device.kill()


def link_group(tool, args):
    ended_runs(tool, args.sim, tool.work)
    signalled_runs(tool, args.sim, tool.work)
    closed_pipe_run(tool, args.sim, tool.work)
    vanished_run(tool, args.sim, tool.work)
    refused_runs(tool, args.sim, tool.work)
    simulator_edges(args.sim, tool.work)
    live_output(tool, args.sim, tool.work)
    help_text = tool.run("--help").stdout
    for option in ["--port", "--baud", "--request", "--count", "--seconds", "--watch", "5 when"]:
        check(option in help_text, f"zelkolink-dump --help does not document {option}")


# ---------------------------------------------------------------- watch group

def watch_group(tool, args):
    """The view as a person sees it: tmux's 80x24 pane, captured twice."""
    session = f"zelkolink-watch-{os.getpid()}"
    tmux = ["tmux", "-L", session]

    def pane():
        return subprocess.run(tmux + ["capture-pane", "-p", "-t", session], capture_output=True,
                              timeout=10).stdout.decode()

    def pane_flag(name):
        return subprocess.run(tmux + ["display-message", "-p", "-t", session, f"#{{{name}}}"],
                              capture_output=True, timeout=10).stdout.decode().strip()
    with Simulator(args.sim, tool.work, "watch") as device:
        try:
            subprocess.run(tmux + ["new-session", "-d", "-x", "80", "-y", "24", "-s", session,
                                   "sh"], check=True, timeout=10)
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


# ----------------------------------------------------------------- wine group

def wine_group(tool, args):
    """The Windows build on COM5, linked in its Wine prefix to the
    simulator's pseudo-terminal."""
    with Simulator(args.sim, tool.work, "wine") as device:
        with wine_com_port(5, device.path) as port:
            run = tool.run("--port", port, "--count", "20", timeout=60)
        check(run.status == 0 and run.stderr == "", f"wine: status {run.status}, "
                                                     f"stderr {run.stderr!r}")
        check(wait_for(lambda: device.saw("stop")), "wine: no stop frame arrived")
    check(device.events()[:1] == ["request 01 00"], f"wine: events {device.events()[:3]}")
    rows = live_rows(run.stdout)
    check(len(rows) == 20, f"wine: {len(rows)} rows")
    check_against_record("wine", rows, tool, device.record)
    print(f"wine: {len(rows)} rows over {rows[-1][1] if rows else 0} bytes, "
          f"{rows[-1][0] if rows else 0:.3f} s")


GROUPS = {"link": link_group, "watch": watch_group, "wine": wine_group}


def extra_arguments(parser):
    parser.add_argument("--sim", required=True, help="zelkolink-sim to run")


if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-dump", extra_arguments))
