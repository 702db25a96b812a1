#!/usr/bin/env python3
"""Relays bytes between a terminal and this process's standard streams.

    pty_relay.py TERMINAL

The browser test runs it on zelkolink-sim's pseudo-terminal: Node.js cannot
set a terminal raw by itself, and the page's port double needs the bytes
exactly as the simulator sends them. The terminal is set raw (8N1, no echo,
no line editing) and restored on exit. Bytes from the terminal go to
standard output as they arrive; bytes from standard input go to the
terminal. Ends when standard input closes or on SIGTERM.
"""

import os
import select
import signal
import sys
import termios
import tty


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: pty_relay.py TERMINAL", file=sys.stderr)
        return 2
    path = sys.argv[1]
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    except OSError as error:
        print(f"pty_relay.py: cannot open {path}: {error.strerror}", file=sys.stderr)
        return 3
    saved = termios.tcgetattr(fd)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        tty.setraw(fd)
        source, sink = sys.stdin.fileno(), sys.stdout.fileno()
        while True:
            ready, _, _ = select.select([fd, source], [], [])
            if fd in ready:
                try:
                    data = os.read(fd, 65536)
                except OSError:  # EIO: the simulator closed its end
                    return 0
                if not data:
                    return 0
                os.write(sink, data)
            if source in ready:
                data = os.read(source, 65536)
                if not data:
                    return 0
                os.write(fd, data)
    finally:
        try:
            termios.tcsetattr(fd, termios.TCSAFLUSH, saved)
        except termios.error:
            pass  # the simulator has gone, and its terminal with it
        os.close(fd)


if __name__ == "__main__":
    sys.exit(main())
