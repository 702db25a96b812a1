#!/usr/bin/env python3
"""Runs zelkolink-dump the way a user would and checks what it prints.

Expected port records come from a whole-stream reading of the port link
written here, and expected SBUS frames from a bit packer written here, so
neither leans on the library under test.

Groups: decode, sbus, errors (native builds) and smoke, a handful of runs for
an emulator such as Wine, where every start of the tool costs seconds."""
import argparse
import json
import pathlib
import subprocess
import sys
import tempfile

START, END, UPLOAD_DATA, UPLOAD_REQUEST = 0xFA, 0x5F, 0xA5, 0xE5
LARGEST_FRAME = 500  # the parser holds no more; a start byte claiming more is an ordinary byte

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


# ------------------------------------------------------------ expected output

def upload_frames(stream):
    """(bytes needed before a parser can report it, payload) per upload frame.

    A frame is known once its end byte, and the end byte of any frame it is
    nested in, has arrived."""
    found, p, seen = [], 0, 0
    while p + 4 <= len(stream):
        length = stream[p + 2] | stream[p + 3] << 8
        end = p + length + 5
        if stream[p] != START or end > LARGEST_FRAME + p:
            p += 1
            continue
        if end > len(stream):
            break
        seen = max(seen, end)
        if stream[end - 1] != END:
            p = end
        elif stream[p + 1] == UPLOAD_DATA:
            found.append((seen, stream[p + 4:end - 1]))
            p = end
        elif stream[p + 1] == UPLOAD_REQUEST:
            p = end
        else:
            p += 1
    return found


def store_record(payload, inputs, channels):
    def values(offset, count):
        return [payload[offset + 2 * k] | payload[offset + 2 * k + 1] << 8 for k in range(count)]
    kind = payload[0] if payload else None
    if (kind == 0 and len(payload) >= 19) or (kind == 2 and len(payload) >= 95):
        inputs[:] = values(1, 9)
    if kind == 1 and len(payload) >= 65:
        channels[:] = values(1, 32)
    if kind == 2 and len(payload) >= 95:
        channels[:] = values(31, 32)


def expected_rows(stream, chunk):
    """(offset, inputs, channels) after each chunk that completes a frame."""
    rows, inputs, channels = [], [0] * 9, [0] * 32
    frames = upload_frames(stream)
    for start in range(0, len(stream), chunk):
        offset = min(start + chunk, len(stream))
        completed = [payload for known_at, payload in frames if start < known_at <= offset]
        for payload in completed:
            store_record(payload, inputs, channels)
        if completed:
            rows.append((offset, list(inputs), list(channels)))
    return rows


CSV_HEADER = ",".join(["offset"] + [f"input{k}" for k in range(9)] +
                      [f"channel{k}" for k in range(32)])


def expected_csv(stream, chunk=255):
    rows = [",".join(map(str, [offset] + i + c)) for offset, i, c in expected_rows(stream, chunk)]
    return "\n".join([CSV_HEADER] + rows) + "\n"


def sbus_frame_hex(standard, end_byte):
    """Start byte 0F, sixteen 11-bit channels least significant bit first,
    flags 00, end byte: the channels being min(floor(x * 1.706), 2047)."""
    frame = [0x0F] + [0] * 24
    for k, x in enumerate(standard):
        channel = min(x * 1706 // 1000, 2047)
        for b in range(11):
            if channel >> b & 1:
                frame[1 + (11 * k + b) // 8] |= 1 << (11 * k + b) % 8
    frame[24] = end_byte
    return " ".join(f"{byte:02X}" for byte in frame)


# ----------------------------------------------------------------- the runs

class Tool:
    def __init__(self, command, work):
        self.command, self.work = command, work

    def run(self, *args, stdin=b""):
        done = subprocess.run(self.command + list(args), input=stdin, capture_output=True,
                              timeout=120)
        # Windows programs write text with CR LF.
        return done.returncode, done.stdout.decode().replace("\r\n", "\n"), done.stderr.decode()

    def file(self, name, content):
        path = self.work / name
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)


def expect_output(tool, args, expected, stdin=b""):
    status, out, err = tool.run(*args, stdin=stdin)
    check(status == 0 and err == "", f"{args}: status {status}, stderr {err!r}")
    check(out == expected, f"{args}: output differs:\n{out[:600]}\nexpected:\n{expected[:600]}")
    return out


def expect_failure(tool, args, status, words, stdin=b""):
    got, out, err = tool.run(*args, stdin=stdin)
    lines = err.strip().splitlines()
    check(got == status, f"{args}: status {got}, expected {status}")
    check(out == "", f"{args}: printed {out[:200]!r} despite failing")
    check(len(lines) == 1 and lines[0].startswith("zelkolink-dump: ") and words in lines[0],
          f"{args}: stderr {err!r} is not one line saying {words!r}")


def hex_text(data):
    """The bytes as hex in mixed case, thirteen to a line, with one byte's
    two digits split by a line break."""
    digits = "".join(d.upper() if k % 3 == 0 else d for k, d in enumerate(data.hex()))
    pairs = [digits[k:k + 2] for k in range(0, len(digits), 2)]
    text = "\n".join(" ".join(pairs[k:k + 13]) for k in range(0, len(pairs), 13))
    return text[:4] + "\n\t" + text[4:] + "\n"


def decode_group(tool, sample):
    rows = expected_rows(sample, 255)
    check(len(rows) >= 3, "the sample no longer exercises several completing calls")
    out = expect_output(tool, [], expected_csv(sample))
    # Independent of the model: the last step of the sample's generator.
    last = out.splitlines()[-1].split(",")
    check(last[1:10] == [str(1500 + k) for k in range(9)], f"last row inputs {last[1:10]}")
    check(last[10:] == [str((1024 + 37 * 5 * (k + 1)) % 2048) for k in range(32)],
          "last row channels")

    byte_by_byte = expect_output(tool, ["--chunk", "1"], expected_csv(sample, 1))
    check(any(line.split(",")[1:10] == ["16962"] * 9 for line in byte_by_byte.splitlines()),
          "the frame nested in another command was not decoded")
    check("57005" not in byte_by_byte, "the frame with a wrong end byte was decoded")
    expect_output(tool, ["--chunk=7"], expected_csv(sample, 7))
    expect_output(tool, ["-"], expected_csv(sample), stdin=sample)
    expect_output(tool, ["--hex", tool.file("sample.hex", hex_text(sample))], expected_csv(sample))
    expect_output(tool, ["--hex", "-"], expected_csv(sample), stdin=hex_text(sample).encode())
    expect_output(tool, [tool.file("empty.bin", b"")], CSV_HEADER + "\n")
    check_json(tool, ["--json", "--chunk", "100"], sample, 100)


def check_json(tool, args, stream, chunk, stdin=b""):
    status, out, err = tool.run(*args, stdin=stdin)
    try:
        rows = [json.loads(line) for line in out.splitlines()]
    except json.JSONDecodeError as error:
        check(False, f"{args}: not JSON lines: {error}")
        return
    expected = [{"offset": offset, "inputs": i, "channels": c}
                for offset, i, c in expected_rows(stream, chunk)]
    check(status == 0 and rows == expected, f"{args}: status {status}, rows differ: {out[:300]}")


SBUS_LINES = [[100] * 16, [0, 1200, 65535, 1199, 1] + list(range(600, 611)), [7] * 16,
              [65535] * 16, list(range(0, 1600, 100))]


def sbus_text(lines):
    """Space separated, comma separated and mixed, with blank lines between."""
    separators = [" ", ",", ", ", "\t", " ,"]
    text = "\n  \n".join(separators[n % 5].join(map(str, line)) for n, line in enumerate(lines))
    return text + "\r\n\n"


def expected_frames(lines, end_bytes):
    return "".join(sbus_frame_hex(line, end) + "\n" for line, end in zip(lines, end_bytes))


V2_END_BYTES = [0x04, 0x14, 0x24, 0x34, 0x04]  # a fresh process starts the cycle at 04


def sbus_group(tool, sample):
    v1 = expected_frames(SBUS_LINES, [0x00] * len(SBUS_LINES))
    # Worked by hand: 100 scales to 170 = 0xAA; channel 1's low five bits
    # (01010) sit above channel 0's top three (000), and so on.
    check(v1.startswith("0F AA 50 85"), "the test's packer is wrong for sixteen 100s")
    expect_output(tool, ["--sbus", tool.file("values.txt", sbus_text(SBUS_LINES))], v1)
    expect_output(tool, ["--sbus"], v1, stdin=sbus_text(SBUS_LINES).encode())
    expect_output(tool, ["--sbus", "--v2", "-"], expected_frames(SBUS_LINES, V2_END_BYTES),
                  stdin=sbus_text(SBUS_LINES).encode())
    expect_output(tool, ["--sbus"], "", stdin=b"\n \n")


def errors_group(tool, sample):
    usage, bad_input = 2, 1
    fifteen = " ".join(["5"] * 15)
    cases = [
        (["--bogus"], usage, "unknown option"),
        (["-x"], usage, "unknown option"),
        (["--chunk", "0"], usage, "--chunk"),
        (["--chunk", "256"], usage, "--chunk"),
        (["--chunk", "ten"], usage, "--chunk"),
        (["--chunk"], usage, "--chunk"),
        (["--v2"], usage, "--v2"),
        (["--sbus", "--json"], usage, "--sbus"),
        (["--hex"], usage, "--hex"),
        (["a.bin", "b.bin"], usage, "one FILE"),
        ([str(tool.work / "missing.bin")], bad_input, "cannot open"),
        ([str(tool.work)], bad_input, "cannot"),
        (["--hex", tool.file("odd.hex", "fa a5 0\n")], bad_input, "odd number of hex digits"),
        (["--hex", tool.file("bad.hex", "fa a5\n00 0x13\n")], bad_input, "line 2, column 5: 'x'"),
    ]
    # A good line, a blank one, then the bad third line.
    for n, (last, words) in enumerate([
            ("", "expected 16 values, found 15"), (" 5 5", "expected 16 values, found 17"),
            (" 65536", "65536 is out of range"), (" -1", "-1 is out of range"),
            (" abc", "'abc' is not a number"), (" 1.5", "'1.5' is not a number")]):
        values = tool.file(f"values{n}.txt", f"{fifteen} 1\n\n{fifteen}{last}\n")
        cases.append((["--sbus", values], bad_input, "line 3: " + words))
    for args, status, words in cases:
        expect_failure(tool, args, status, words)

    status, out, err = tool.run("--help")
    check(status == 0 and err == "", f"--help: status {status}, stderr {err!r}")
    for option in ["--hex", "--chunk N", "--json", "--sbus", "--v2", "--help", "Exit status"]:
        check(option in out, f"--help does not document {option}")


def smoke_group(tool, sample):
    """Four starts: the built-in sample, raw bytes on standard input (binary
    mode matters on Windows), SBUS from a file, and one failure."""
    expect_output(tool, [], expected_csv(sample))
    check_json(tool, ["--json", "--chunk", "7", "-"], sample, 7, stdin=sample)
    expect_output(tool, ["--sbus", "--v2", tool.file("values.txt", sbus_text(SBUS_LINES))],
                  expected_frames(SBUS_LINES, V2_END_BYTES))
    expect_failure(tool, ["--hex", tool.file("odd.hex", "fa a5 0\n")], 1,
                   "odd number of hex digits")


GROUPS = {"decode": decode_group, "sbus": sbus_group, "errors": errors_group, "smoke": smoke_group}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--sample", required=True, type=pathlib.Path)
    parser.add_argument("--emulator", default="", help="command to run the tool with, ;-separated")
    parser.add_argument("--group", choices=GROUPS, required=True)
    args = parser.parse_args()
    command = [part for part in args.emulator.split(";") if part] + [args.tool]
    with tempfile.TemporaryDirectory() as work:
        GROUPS[args.group](Tool(command, pathlib.Path(work)), args.sample.read_bytes())
    for failure in failures:
        print("FAILED:", failure)
    print(f"{args.group}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
