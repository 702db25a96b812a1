"""What the tool tests share: running a tool as a user would (natively or
under an emulator such as Wine), the simulator as a device, pseudo-terminals
held from the test's side and Wine COM ports linked to them, one-line error
checks, live output read while the tool runs, and the runner that prints
each group's failures. Runs, simulators, pseudo-terminals and COM ports are
context managers: whatever a group leaves behind, they end or remove it."""
import argparse
import contextlib
import fcntl
import importlib.util
import os
import pathlib
import select
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def wait_for(predicate, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


# ------------------------------------------------------------------ tools

class Run:
    """One start of a tool. Its output goes to files of its own: a Wine run
    may start processes that outlive it (the wineserver, the prefix's
    services) and inherit them, so a pipe might never close. Leaving a
    `with` block kills a run that was not finished."""

    started = 0

    def __init__(self, tool, args, stdin=None, env=None):
        self.args = list(args)
        Run.started += 1
        self.out = open(tool.work / f"stdout-{Run.started}", "w+b")
        self.err = open(tool.work / f"stderr-{Run.started}", "w+b")
        self.process = subprocess.Popen(
            tool.command + self.args, stdout=self.out, stderr=self.err,
            stdin=subprocess.PIPE if stdin is not None else subprocess.DEVNULL,
            env=env if env is not None else tool.env)
        if stdin is not None:
            self.process.stdin.write(stdin)
            self.process.stdin.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if not self.out.closed:
            self.process.kill()
            self.process.wait()
            self.out.close()
            self.err.close()

    def output(self):
        """What the tool has written to standard output so far."""
        return pathlib.Path(self.out.name).read_bytes().decode(errors="replace").replace("\r\n",
                                                                                         "\n")

    def signal(self, number):
        if self.process.poll() is None:
            self.process.send_signal(number)

    def finish(self, timeout=60):
        try:
            self.status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.status = self.process.wait()
            check(False, f"{self.args}: still running after {timeout} s, killed")
        self.out.seek(0)
        self.err.seek(0)
        # Windows programs write text with CR LF.
        self.stdout = self.out.read().decode(errors="replace").replace("\r\n", "\n")
        self.stderr = self.err.read().decode(errors="replace").replace("\r\n", "\n")
        self.out.close()
        self.err.close()
        return self


class Tool:
    """A tool's command line (with an emulator first if need be), its name as
    it starts its error lines, and a scratch folder."""

    def __init__(self, command, work, name, env=None):
        self.command, self.work, self.name, self.env = command, work, name, env

    def start(self, *args, stdin=None, env=None):
        return Run(self, args, stdin=stdin, env=env)

    def run(self, *args, stdin=None, env=None, timeout=120):
        return Run(self, args, stdin=stdin, env=env).finish(timeout)

    def file(self, name, content):
        path = self.work / name
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)


def one_error_line(tool, label, err, words):
    """err is one line, "NAME: ...", holding every one of words."""
    words = [words] if isinstance(words, str) else words
    lines = err.strip().splitlines()
    return check(len(lines) == 1 and lines[0].startswith(f"{tool.name}: ") and
                 all(word in lines[0] for word in words),
                 f"{label}: stderr {err!r} is not one line saying {words!r}")


def expect_failure(tool, args, status, words, stdin=None, env=None):
    run = tool.run(*args, stdin=stdin, env=env)
    check(run.status == status, f"{args}: status {run.status}, expected {status}")
    check(run.stdout == "", f"{args}: printed {run.stdout[:200]!r} despite failing")
    one_error_line(tool, args, run.stderr, words)
    return run


# ------------------------------------------------------------ live output

def first_lines(stream, count, seconds):
    """The first count lines written to a pipe, read while its writer still
    runs, or None when they are not all complete within `seconds`: a line
    that sits in the writer's buffer fails here at once instead of hanging
    the test."""
    deadline = time.monotonic() + seconds
    data = b""
    fd = stream.fileno()
    while data.count(b"\n") < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        chunk = os.read(fd, 4096)
        if not chunk:
            return None
        data += chunk
    lines = data.decode(errors="replace").replace("\r\n", "\n").split("\n")
    return lines[:count]


def live_lines(label, command, count=1, seconds=5, stream="stdout", env=None):
    """Starts command with the given stream on a pipe (the other to
    /dev/null), checks that its first count lines arrive within `seconds`
    while it still runs, then stops it with SIGINT and checks a clean exit.
    Returns the lines, or None."""
    quiet = {"stdout": "stderr", "stderr": "stdout"}[stream]
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, env=env,
                               **{stream: subprocess.PIPE, quiet: subprocess.DEVNULL})
    try:
        lines = first_lines(getattr(process, stream), count, seconds)
        check(lines is not None and process.poll() is None,
              f"{label}: {count} line(s) did not reach the {stream} pipe within {seconds} s "
              "while the tool ran")
        process.send_signal(signal.SIGINT)
        status = process.wait(timeout=10)
        check(status == 0, f"{label}: exit status {status} after SIGINT")
        return lines
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        getattr(process, stream).close()


# -------------------------------------------------------- devices and ports

class Simulator:
    """zelkolink-sim in the background; its event log goes to a file.
    Leaving a `with` block stops it."""

    def __init__(self, sim, work, name, *args):
        self.record = work / f"{name}.record"
        self.log = work / f"{name}.log"
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                [sim, "--record", str(self.record), "--seed", "7", *args],
                stdout=subprocess.PIPE, stderr=log)
        # Its first line is the terminal's path, flushed at once.
        path = first_lines(self.process.stdout, 1, 10)
        if path is None:
            self.process.kill()
            raise RuntimeError(f"{sim} printed no path within 10 s")
        self.path = path[0]

    def events(self):
        return self.log.read_text().splitlines()

    def saw(self, event):
        return event in self.events()

    def stop(self):
        """Ends it with SIGTERM (continuing it first if it was stopped) and
        returns its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=5)
        self.process.stdout.close()
        return status

    def __enter__(self):
        return self

    def __exit__(self, *_):
        try:
            self.stop()
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()


TCGETS2, TCSETS2 = 0x802C542A, 0x402C542B
TERMIOS2 = struct.Struct("=4IB19s2I")  # flags, line, c_cc[19], ispeed, ospeed
CBAUD, BOTHER = 0o10017, 0o10000


class Pty:
    """Both ends of a pseudo-terminal; a thread keeps reading the controlling
    end, so a tool writing to the terminal end never blocks on a full buffer,
    and every chunk carries the time it arrived. Leaving a `with` block
    closes both ends."""

    def __init__(self):
        self.controller, self.terminal = os.openpty()
        self.path = os.ttyname(self.terminal)
        self.chunks, self.lock, self.reading = [], threading.Lock(), True
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while self.reading:
            ready, _, _ = select.select([self.controller], [], [], 0.01)
            if ready:
                try:
                    data = os.read(self.controller, 4096)
                except OSError:
                    return
                with self.lock:
                    self.chunks.append((time.monotonic(), data))

    def received(self):
        with self.lock:
            return b"".join(data for _, data in self.chunks)

    def timed_chunks(self):
        with self.lock:
            return list(self.chunks)

    def wait_for_bytes(self, count, timeout=20):
        return wait_for(lambda: len(self.received()) >= count, timeout)

    def settings(self):
        return TERMIOS2.unpack(fcntl.ioctl(self.terminal, TCGETS2, bytes(TERMIOS2.size)))

    def set_rate(self, rate):
        iflag, oflag, cflag, lflag, line, cc, _, _ = self.settings()
        cflag = (cflag & ~CBAUD) | BOTHER
        fcntl.ioctl(self.terminal, TCSETS2,
                    TERMIOS2.pack(iflag, oflag, cflag, lflag, line, cc, rate, rate))

    def hang_up(self):
        self.reading = False
        self.thread.join()
        os.close(self.controller)

    def close(self):
        if self.reading:
            self.hang_up()
        if self.terminal is not None:
            os.close(self.terminal)
            self.terminal = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


@contextlib.contextmanager
def wine_com_port(number, target):
    """COM<number> of the Wine prefix, linked to target (a pseudo-terminal)
    while the block runs; yields the port's name."""
    dosdevices = pathlib.Path(os.environ["WINEPREFIX"]) / "dosdevices"
    dosdevices.mkdir(parents=True, exist_ok=True)
    link = dosdevices / f"com{number}"
    link.unlink(missing_ok=True)
    link.symlink_to(target)
    try:
        yield f"COM{number}"
    finally:
        link.unlink(missing_ok=True)


# ----------------------------------------------------------------- runner

def module_from_file(path):
    """A Python module loaded from its file alone, such as zelkolink.capture
    from the source tree, which needs nothing of its package or the native
    library."""
    found = importlib.util.spec_from_file_location(pathlib.Path(path).stem, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main(doc, groups, tool_name, extra=None):
    """Parses --tool, --emulator and --group (plus what extra(parser) adds),
    runs the group as group(tool, args) in a scratch folder, and prints every
    failure and a closing count. Returns the exit status."""
    parser = argparse.ArgumentParser(description=doc)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--emulator", default="", help="command to run the tool with, ;-separated")
    parser.add_argument("--group", choices=groups, required=True)
    if extra:
        extra(parser)
    args = parser.parse_args()
    command = [part for part in args.emulator.split(";") if part] + [args.tool]
    with tempfile.TemporaryDirectory() as work:
        groups[args.group](Tool(command, pathlib.Path(work), tool_name), args)
    for failure in failures:
        print("FAILED:", failure)
    print(f"{args.group}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit("tool_harness.py is imported by the tool tests, not run")
