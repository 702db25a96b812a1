#!/usr/bin/env python3
"""Latency of zelkolink-bridge: how old the values in each SBUS frame are.
Not a test; prints the figures.

The bridge measures it itself with --trace: for every SBUS frame that first
carries new values, the time from the port read that completed their upload
frame to the return of the write that sent the SBUS frame, both on the
bridge's monotonic clock. The device is zelkolink-sim at 100 and at 1000
upload frames a second, the SBUS port a pseudo-terminal that this script
keeps reading; each run is repeated at --interval-ms 14 and 7.

Usage: bench/bridge_latency.py [BUILD_BIN_DIR] [SECONDS]
(default build/linux/bin, 10 seconds a run)."""
import os
import pathlib
import select
import subprocess
import sys
import tempfile
import threading


def drain(fd, running):
    while running[0]:
        if select.select([fd], [], [], 0.05)[0]:
            try:
                os.read(fd, 4096)
            except OSError:
                return


def run(bin_dir, work, rate, interval, seconds):
    sim = subprocess.Popen([str(bin_dir / "zelkolink-sim"), "--rate", str(rate), "--seed", "1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    device = sim.stdout.readline().decode().strip()
    controller, terminal = os.openpty()
    running = [True]
    reader = threading.Thread(target=drain, args=(controller, running), daemon=True)
    reader.start()
    trace = work / f"trace-{rate}-{interval}"
    try:
        subprocess.run([str(bin_dir / "zelkolink-bridge"), "--from-port", device,
                        "--to-sbus", os.ttyname(terminal), "--interval-ms", str(interval),
                        "--seconds", str(seconds), "--trace", str(trace)],
                       check=True, stderr=subprocess.DEVNULL)
    finally:
        running[0] = False
        reader.join()
        sim.terminate()
        sim.wait()
        os.close(controller)
        os.close(terminal)
    ages = [int(line.split()[1]) / 1000 for line in trace.read_text().splitlines()]
    ages = ages[len(ages) // 20:]  # the first half second or so: the link settling
    ages.sort()
    mean = sum(ages) / len(ages)
    goal_mean, goal_max = interval / 2 + 1, interval + 2
    print(f"{rate:5} frames/s  --interval-ms {interval:2}  {len(ages):5} frames  "
          f"mean {mean:5.2f} ms (goal {goal_mean:4.1f})  "
          f"p99 {ages[int(len(ages) * 0.99)]:5.2f} ms  max {ages[-1]:5.2f} ms (goal {goal_max})")


def main():
    bin_dir = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/linux/bin")
    seconds = sys.argv[2] if len(sys.argv) > 2 else "10"
    with tempfile.TemporaryDirectory() as work:
        for rate in (100, 1000):
            for interval in (14, 7):
                run(bin_dir, pathlib.Path(work), rate, interval, seconds)


if __name__ == "__main__":
    main()
