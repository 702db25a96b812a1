#!/usr/bin/env python3
"""What captures cost and how true a replay is. Not a test; prints figures.

overhead: zelkolink-dump --port against zelkolink-sim --rate 0 (as fast as
the host reads), without and with --capture, in alternating runs of the
same length: rows a second and the dump's CPU time (user + system) a row,
each the median of the runs, and their ratios.

replay: a capture of the simulator at 100 frames a second is replayed by
zelkolink-sim --replay and captured again by zelkolink-dump --capture. For
every read boundary of the first capture, the time the second capture
reached the same byte; the gaps between consecutive boundaries are compared
with the recorded gaps: p50, p99 and the largest difference.

Usage: bench/capture_bench.py [BUILD_BIN_DIR] [SECONDS] [ROUNDS]
(default build/linux/bin, 5 seconds a run, 5 rounds)."""
import bisect
import importlib.util
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent


def load_capture():
    path = ROOT / "bindings" / "python" / "zelkolink" / "capture.py"
    found = importlib.util.spec_from_file_location("capture", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def start_sim(bin_dir, *args):
    sim = subprocess.Popen([str(bin_dir / "zelkolink-sim"), *args],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return sim, sim.stdout.readline().decode().strip()


def stop(sim):
    sim.terminate()
    sim.wait()
    sim.stdout.close()


def dump_run(bin_dir, port, seconds, *more):
    """Rows a second and CPU seconds a row of one zelkolink-dump --port run."""
    with open(os.devnull, "wb") as out:
        dump = subprocess.Popen([str(bin_dir / "zelkolink-dump"), "--port", port, "--json",
                                 "--seconds", str(seconds), *more], stdout=subprocess.PIPE)
        rows = sum(1 for _ in dump.stdout)
        _, status, usage = os.wait4(dump.pid, 0)
        dump.stdout.close()
    if status != 0:
        sys.exit(f"zelkolink-dump ended with {status}")
    return rows / seconds, (usage.ru_utime + usage.ru_stime) / max(rows, 1)


def overhead(bin_dir, work, seconds, rounds):
    sim, port = start_sim(bin_dir, "--rate", "0", "--kind", "2", "--seed", "1")
    plain, captured = [], []
    try:
        for k in range(rounds):
            plain.append(dump_run(bin_dir, port, seconds))
            captured.append(dump_run(bin_dir, port, seconds, "--capture", str(work / f"o{k}.pcapng")))
    finally:
        stop(sim)
    size = max(path.stat().st_size for path in work.glob("o*.pcapng"))
    rate = [statistics.median(r for r, _ in runs) for runs in (plain, captured)]
    cpu = [statistics.median(c for _, c in runs) for runs in (plain, captured)]
    print(f"overhead: {rounds} rounds of {seconds} s each way, sim --rate 0, kind 2")
    print(f"  without --capture: {rate[0]:,.0f} rows/s, {cpu[0] * 1e6:.2f} us CPU a row "
          f"(runs: {', '.join(f'{r:,.0f}' for r, _ in plain)})")
    print(f"  with --capture:    {rate[1]:,.0f} rows/s, {cpu[1] * 1e6:.2f} us CPU a row "
          f"(runs: {', '.join(f'{r:,.0f}' for r, _ in captured)}); captures up to "
          f"{size / 1e6:.1f} MB")
    print(f"  ratio: {rate[1] / rate[0]:.3f}x the rows a second, {cpu[1] / cpu[0]:.3f}x the CPU a row")


def boundaries(capture, path):
    """(bytes read from the device so far, seconds) after every read in."""
    ends, total = [], 0
    for seconds, direction, data in capture.read(path):
        if direction == "in" and data:
            total += len(data)
            ends.append((total, seconds))
    return ends


def replay_timing(bin_dir, work, seconds):
    capture = load_capture()
    original, again = work / "original.pcapng", work / "again.pcapng"
    sim, port = start_sim(bin_dir, "--rate", "100", "--kind", "2", "--seed", "3")
    dump_run(bin_dir, port, seconds, "--capture", str(original))
    stop(sim)
    sim, port = start_sim(bin_dir, "--replay", str(original))
    dump_run(bin_dir, port, seconds + 1, "--capture", str(again))
    stop(sim)

    first, second = boundaries(capture, original), boundaries(capture, again)
    offsets = [offset for offset, _ in second]
    reached = []  # per boundary of the first capture: when the second got there
    for offset, _ in first:
        at = bisect.bisect_left(offsets, offset)
        reached.append(second[at][1] if at < len(second) else None)
    errors = []
    for k in range(1, len(first)):
        if reached[k] is None or reached[k - 1] is None:
            break
        recorded = first[k][1] - first[k - 1][1]
        errors.append(abs((reached[k] - reached[k - 1]) - recorded) * 1000)
    errors.sort()
    merged = len(first) - len(second)
    print(f"replay: {len(first)} reads over {first[-1][1] - first[0][1]:.1f} s replayed and "
          f"captured again as {len(second)} reads ({merged} pairs arrived joined)")
    print(f"  |replayed gap - recorded gap|: p50 {errors[len(errors) // 2]:.3f} ms, "
          f"p99 {errors[min(len(errors) - 1, int(len(errors) * 0.99))]:.3f} ms, "
          f"largest {errors[-1]:.3f} ms over {len(errors)} gaps")


def main():
    bin_dir = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/linux/bin")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory() as work:
        overhead(bin_dir, pathlib.Path(work), seconds, rounds)
        replay_timing(bin_dir, pathlib.Path(work), seconds)


if __name__ == "__main__":
    main()
