#!/usr/bin/env python3
"""Throughput of the live port link: zelkolink-sim at --rate 0 (as fast as
the host reads) against zelkolink-dump --port writing rows to a file, beside
the same capture decoded from a file. Not a test; prints the figures.

Usage: bench/live_port_bench.py [BUILD_BIN_DIR] [SECONDS]
(default build/linux/bin, 5 seconds)."""
import pathlib
import subprocess
import sys
import tempfile
import time

KIND_TWO_HEADER = b"\xfa\xa5\x5f\x00"  # an upload frame with a 95-byte kind 2 record


def main():
    bin_dir = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/linux/bin")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    dump, sim = str(bin_dir / "zelkolink-dump"), str(bin_dir / "zelkolink-sim")
    with tempfile.TemporaryDirectory() as work_dir:
        work = pathlib.Path(work_dir)
        record, rows = work / "capture.bin", work / "rows.csv"
        device = subprocess.Popen([sim, "--rate", "0", "--kind", "2", "--seed", "1",
                                   "--record", str(record)],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        port = device.stdout.readline().decode().strip()
        with open(rows, "wb") as out:
            subprocess.run([dump, "--port", port, "--seconds", str(seconds)], stdout=out,
                           check=True)
        device.terminate()
        device.wait()
        device.stdout.close()

        lines = rows.read_text().splitlines()
        elapsed = float(lines[-1].split(",")[0])
        received = int(lines[-1].split(",")[1])
        frames = record.read_bytes()[:received].count(KIND_TWO_HEADER)
        print(f"live, through the pseudo-terminal: {frames} frames, {received} bytes, "
              f"{len(lines) - 1} rows in {elapsed:.3f} s: {frames / elapsed:,.0f} frames/s, "
              f"{received / elapsed / 1e6:.2f} MB/s")

        capture = work / "received.bin"
        capture.write_bytes(record.read_bytes()[:received])
        started = time.perf_counter()
        with open(work / "file_rows.csv", "wb") as out:
            subprocess.run([dump, str(capture)], stdout=out, check=True)
        taken = time.perf_counter() - started
        print(f"same capture from a file:          {frames} frames, {received} bytes in "
              f"{taken:.3f} s: {frames / taken:,.0f} frames/s, {received / taken / 1e6:.2f} MB/s")


if __name__ == "__main__":
    main()
