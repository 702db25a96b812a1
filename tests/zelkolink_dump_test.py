#!/usr/bin/env python3
"""Runs zelkolink-dump the way a user would and checks what it prints.

Expected port records come from wire_models' whole-stream reading of the
port link, expected SBUS frames from its bit packer and expected HID rows
from its report layouts, so none leans on the library under test.

Groups: decode, sbus, errors and hid run everywhere, under an emulator such
as Wine too; hid_live needs a native build, and windows_hid is the Windows
build's refusal of live HID."""
import json
import os
import pathlib
import random
import re
import sys
import time

from tool_harness import check, expect_failure, live_lines, main
from wire_models import (compatible_values, expected_rows, game_controller_values, sbus_frame,
                         standard_channels)

# ------------------------------------------------------------ expected output

CSV_HEADER = ",".join(["offset"] + [f"input{k}" for k in range(9)] +
                      [f"channel{k}" for k in range(32)])


def expected_csv(stream, chunk=255):
    rows = [",".join(map(str, [offset] + i + c)) for offset, i, c in expected_rows(stream, chunk)]
    return "\n".join([CSV_HEADER] + rows) + "\n"


def sbus_frame_hex(standard, end_byte):
    """The frame of these standard values, as --sbus prints it."""
    return sbus_frame(standard_channels(standard), end=end_byte).hex(" ").upper()


# ----------------------------------------------------------------- the runs

def outputs(tool, *args, stdin=b"", env=None):
    run = tool.run(*args, stdin=stdin, env=env)
    return run.status, run.stdout, run.stderr


def expect_output(tool, args, expected, stdin=b""):
    status, out, err = outputs(tool, *args, stdin=stdin)
    check(status == 0 and err == "", f"{args}: status {status}, stderr {err!r}")
    check(out == expected, f"{args}: output differs:\n{out[:600]}\nexpected:\n{expected[:600]}")
    return out


def hex_text(data):
    """The bytes as hex in mixed case, thirteen to a line, with one byte's
    two digits split by a line break."""
    digits = "".join(d.upper() if k % 3 == 0 else d for k, d in enumerate(data.hex()))
    pairs = [digits[k:k + 2] for k in range(0, len(digits), 2)]
    text = "\n".join(" ".join(pairs[k:k + 13]) for k in range(0, len(pairs), 13))
    return text[:4] + "\n\t" + text[4:] + "\n"


def decode_group(tool, args):
    sample = args.sample.read_bytes()
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
    status, out, err = outputs(tool, *args, stdin=stdin)
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


def sbus_group(tool, args):
    v1 = expected_frames(SBUS_LINES, [0x00] * len(SBUS_LINES))
    # Worked by hand: 100 scales to 170 = 0xAA; channel 1's low five bits
    # (01010) sit above channel 0's top three (000), and so on.
    check(v1.startswith("0F AA 50 85"), "the test's packer is wrong for sixteen 100s")
    expect_output(tool, ["--sbus", tool.file("values.txt", sbus_text(SBUS_LINES))], v1)
    expect_output(tool, ["--sbus"], v1, stdin=sbus_text(SBUS_LINES).encode())
    expect_output(tool, ["--sbus", "--v2", "-"], expected_frames(SBUS_LINES, V2_END_BYTES),
                  stdin=sbus_text(SBUS_LINES).encode())
    expect_output(tool, ["--sbus"], "", stdin=b"\n \n")


def errors_group(tool, args):
    usage, bad_input = 2, 1
    fifteen = " ".join(["5"] * 15)
    cases = [
        # The options' refusals are zelkolink_dump_options_test's table;
        # these two show that the program gives them as one line and status 2.
        (["--bogus"], usage, "unknown option"),
        (["--sbus", "--json"], usage, "--sbus"),
        ([str(tool.work / "missing.bin")], bad_input, "cannot open"),
        ([str(tool.work)], bad_input, "cannot"),
        (["--hex", tool.file("odd.hex", "fa a5 0\n")], bad_input, "odd number of hex digits"),
        (["--hex", tool.file("bad.hex", "fa a5\n00 0x13\n")], bad_input, "line 2, column 5: 'x'"),
    ]
    # A good line, a blank one, then the bad third line.
    for n, (last, words) in enumerate([
            ("", "expected 16 values, found 15"), (" 5 5", "expected 16 values, found 17"),
            (" 65536", "65536 is out of range"), (" -1", "-1 is out of range"),
            (" abc", "'abc' is not a number"), (" 1.5", "'1.5' is not a number"),
            (" 18446744073709551617", "18446744073709551617 is out of range")]):
        values = tool.file(f"values{n}.txt", f"{fifteen} 1\n\n{fifteen}{last}\n")
        cases.append((["--sbus", values], bad_input, "line 3: " + words))
    for args, status, words in cases:
        expect_failure(tool, args, status, words)

    status, out, err = outputs(tool, "--help")
    check(status == 0 and err == "", f"--help: status {status}, stderr {err!r}")
    for option in ["--hex", "--chunk N", "--json", "--sbus", "--v2", "--help", "Exit status"]:
        check(option in out, f"--help does not document {option}")


# ----------------------------------------------------------- HID reports

def random_bytes(rng, size, first=None):
    data = bytes(rng.randrange(256) for _ in range(size))
    return data if first is None else bytes([first]) + data[1:]


def spaced(data):
    return " ".join(f"{b:02x}" for b in data)


def hid_cases(report_id=None, seed=1):
    """(hex line, (layout, values) or the words of its error) for a report
    file: both layouts, a 19-byte report starting FA (the length decides),
    bad lengths, a 23-byte report without FA, bad hex, wrong report IDs."""
    rng = random.Random(seed)
    prefix = bytes([report_id]) if report_id else b""
    gc, gc_fa = random_bytes(rng, 19), random_bytes(rng, 19, 0xFA)
    cp = random_bytes(rng, 23, 0xFA)
    after_id = " after the report ID" if report_id else ""
    cases = [
        (spaced(prefix + gc), ("game-controller", game_controller_values(gc))),
        ((prefix + cp).hex().upper(), ("compatible", compatible_values(cp))),
        (spaced(prefix + random_bytes(rng, 20)), "20 bytes" + after_id + ", expected 19"),
        (spaced(prefix + gc_fa).replace(" ", "\t", 3), ("game-controller",
                                                         game_controller_values(gc_fa))),
        (spaced(prefix + random_bytes(rng, 23, 0x0B)), "23-byte report starting 0B"),
        (spaced(prefix + random_bytes(rng, 255)), "255 bytes"),
        ("fa 0g", "column 5: 'g' is not a hex digit"),
        ("fa a5 0", "odd number of hex digits (5)"),
        (spaced(prefix + cp), ("compatible", compatible_values(cp))),
    ]
    if report_id:
        cases += [(spaced(bytes([report_id + 1]) + gc),
                   f"report ID 0x{report_id + 1:02X}, expected 0x{report_id:02X}")]
    return cases


def hid_file(cases):
    """The report file's text, with comments, blank lines and CR LF endings
    between the reports; and the line numbers of the cases."""
    lines, numbers = ["# reports", ""], []
    for text, _ in cases:
        lines += [text, "  \t"]
        numbers.append(len(lines) - 1)
    return "".join(line + ("\r\n" if n % 3 else "\n") for n, line in enumerate(lines)), numbers


def expected_hid_rows(cases, numbers):
    return [(n, want[0], want[1]) for n, (_, want) in zip(numbers, cases) if not isinstance(want, str)]


def hid_row(layout, values):
    """A row after its first column: eleven value columns, empty at the end
    for a compatible report."""
    return f"{layout}," + ",".join(map(str, values)) + "," * (11 - len(values))


def hid_csv(rows, key="line"):
    header = ",".join([key, "layout"] + [f"value{k}" for k in range(11)])
    return "".join(line + "\n" for line in
                   [header] + [f"{n},{hid_row(layout, values)}" for n, layout, values in rows])


def check_hid_errors(args, err, name, cases, numbers, key="line"):
    """One line per bad report, in order, then the count."""
    bad = [(n, want) for n, (_, want) in zip(numbers, cases) if isinstance(want, str)]
    lines = err.splitlines()
    check(len(lines) == len(bad) + 1, f"{args}: {len(lines)} lines on stderr: {err!r}")
    for line, (n, words) in zip(lines, bad):
        check(line.startswith(f"zelkolink-dump: {name}: {key} {n}: ") and words in line,
              f"{args}: {line!r} should name {key} {n} and say {words!r}")
    check(lines[-1:] == [f"zelkolink-dump: {name}: {len(bad)} of {len(cases)} reports could "
                         f"not be decoded"], f"{args}: last stderr line {lines[-1:]}")


def check_hid_file(tool, args, cases, numbers, stdin=b"", name=None, json_rows=False):
    status, out, err = outputs(tool, *args, stdin=stdin)
    rows = expected_hid_rows(cases, numbers)
    if json_rows:
        got = [json.loads(line) for line in out.splitlines()]
        check(got == [{"line": n, "layout": layout, "values": values}
                      for n, layout, values in rows], f"{args}: JSON rows differ: {out[:400]}")
    else:
        check(out == hid_csv(rows), f"{args}: rows differ:\n{out[:600]}\nexpected:\n"
                                    f"{hid_csv(rows)[:600]}")
    check(status == 1, f"{args}: status {status}, expected 1 after bad reports")
    check_hid_errors(args, err, name or args[args.index("--hid-file") + 1], cases, numbers)


def hid_group(tool, args):
    # Worked by hand from the header's example: bytes 6..8 21 43 65.
    check(game_controller_values(bytes(6) + bytes([0x21, 0x43, 0x65]) + bytes(10))[3:5] ==
          [0x321, 0x654], "the test's game-controller layout is wrong")
    cases = hid_cases()
    text, numbers = hid_file(cases)
    path = tool.file("reports.hex", text)
    check_hid_file(tool, ["--hid-file", path], cases, numbers)
    check_hid_file(tool, ["--json", "--hid-file", path], cases, numbers, json_rows=True)
    check_hid_file(tool, ["--hid-file", "-"], cases, numbers, stdin=text.encode(),
                   name="standard input")
    id_cases = hid_cases(report_id=5, seed=5)
    id_text, id_numbers = hid_file(id_cases)
    check_hid_file(tool, ["--report-id", "5", "--hid-file", tool.file("id5.hex", id_text)],
                   id_cases, id_numbers)
    # --count stops after the rows, before the bad reports that follow them.
    rows = expected_hid_rows(cases, numbers)
    expect_output(tool, ["--hid-file", path, "--count", "2"], hid_csv(rows[:2]))
    expect_output(tool, ["--hid-file=" + path, "--count=1"], hid_csv(rows[:1]))
    expect_output(tool, ["--hid-file", tool.file("none.hex", "# nothing\n\n")], hid_csv([]))

    usage, bad_input = 2, 1
    for args, status, words in [
            # The HID options' refusals are zelkolink_dump_options_test's
            # table; these two show the one line and status 2 of the program.
            (["--hid", "046d"], usage, "VID:PID"),
            (["--hid-file", path, "--chunk", "3"], usage, "do not apply"),
            (["--hid-file", str(tool.work / "missing.hex")], bad_input, "cannot open"),
            # A folder: Windows refuses to open one, Linux to read it.
            (["--hid-file", str(tool.work)], bad_input, "cannot")]:
        expect_failure(tool, args, status, words)

    status, out, err = outputs(tool, "--help")
    for option in ["--hid VID:PID[:SERIAL]", "--hid-path PATH", "--hid-file FILE", "--report-id N",
                   "--count N", "--seconds S", "--hid-list", "has no live HID",
                   "no HID device matches", "5 when the port or device goes away"]:
        check(option in " ".join(out.split()), f"--help does not document {option!r}")


def hid_live_group(tool, args):
    """Live HID: first with the real hidapi on a machine without HID devices,
    then with a stand-in for hidapi that plays a script of devices and reads."""
    fake_hidapi = args.fake_hidapi
    cannot_open = 3
    for args, words in [
            (["--hid", "1234:5678"], "no HID device 1234:5678 is attached"),
            (["--hid", "1234:5678:SN-1"], "no HID device 1234:5678 with serial 'SN-1' is attached"),
            (["--hid-path", str(tool.work / "hidraw9")], "hidraw9: No such file or directory"),
            (["--hid-path", "/dev/null"], "/dev/null: not a hidraw device"),
            (["--hid-path", str(tool.work)], "not a character device")]:
        expect_failure(tool, args, cannot_open, words)
    hidraw = pathlib.Path("/sys/class/hidraw")
    if not (hidraw.is_dir() and any(hidraw.iterdir())):
        status, out, err = outputs(tool, "--hid-list")
        check((status, out, err) == (0, "", "zelkolink-dump: no HID devices attached\n"),
              f"--hid-list with no devices: {status} {out!r} {err!r}")

    check(fake_hidapi != "", "hid_live needs --fake-hidapi")
    devices = ["device\t046d\tc216\tSER1\tMaker\tPad\t/fake/hidraw0",
               "device\t046d\tc216\tSER1\tMaker\tPad\t/fake/hidraw0",  # a second usage
               "device\t046d\tc216\tSER2\tMaker\tPad two\t/fake/hidraw1",
               "device\t1209\t0001\t\tNobody\tLocked\t/fake/denied0"]

    def fake(*reads):
        script = tool.file("script.txt", "\n".join(devices + list(reads)) + "\n")
        return dict(os.environ, LD_PRELOAD=fake_hidapi, ZELKOLINK_FAKE_HID=script)

    status, out, err = outputs(tool, "--hid-list", env=fake())
    check(status == 0 and err == "" and out == "046d:c216\tMaker\tPad\tSER1\t/fake/hidraw0\n"
          "046d:c216\tMaker\tPad two\tSER2\t/fake/hidraw1\n1209:0001\tNobody\tLocked\t\t"
          "/fake/denied0\n", f"--hid-list: {status} {out!r} {err!r}")

    # Reports with report ID 0x21, one of them bad, then the device vanishes.
    rng = random.Random(3)
    gc, cp = random_bytes(rng, 19), random_bytes(rng, 23, 0xFA)
    env = fake(*[f"report\t{spaced(bytes([0x21]) + r)}" for r in [gc, random_bytes(rng, 5), cp]],
               "vanish")
    args = ["--hid", "46D:C216", "--report-id", "0x21"]
    status, out, err = outputs(tool, *args, env=env)
    lines = out.splitlines()
    check(status == 5, f"{args}: status {status}, expected 5 for a vanished device")
    check(lines[:1] == hid_csv([], key="time").splitlines(), f"{args}: header {lines[:1]}")
    times = [line.split(",", 1)[0] for line in lines[1:]]
    check(all(re.fullmatch(r"\d+\.\d{3}", t) and float(t) < 60 for t in times),
          f"{args}: time column {times}")
    check([line.split(",", 1)[1] for line in lines[1:]] ==
          [hid_row("game-controller", game_controller_values(gc)),
           hid_row("compatible", compatible_values(cp))], f"{args}: rows differ: {out!r}")
    name = "HID device 046d:c216 at /fake/hidraw0"
    err_lines = err.splitlines()
    check(len(err_lines) == 3 and err_lines[0].startswith(f"zelkolink-dump: {name}: time ") and
          "5 bytes after the report ID" in err_lines[0] and
          err_lines[1] == f"zelkolink-dump: {name}: 1 of 3 reports could not be decoded" and
          err_lines[2] == f"zelkolink-dump: {name} went away: it hung up", f"{args}: {err!r}")

    # The serial picks the device; --count ends the run before the vanish.
    status, out, err = outputs(tool, "--hid", "046d:c216:SER2", "--json", "--count", "1",
                              env=fake(f"report\t{spaced(cp)}", "vanish"))
    rows = [json.loads(line) for line in out.splitlines()]
    check(status == 0 and err == "" and len(rows) == 1 and re.match(r'\{"time":\d+\.\d{3},', out)
          and {k: v for k, v in rows[0].items() if k != "time"} ==
          {"layout": "compatible", "values": compatible_values(cp)},
          f"--json --count 1: {status} {out!r} {err!r}")
    status, out, err = outputs(tool, "--hid", "046d:c216:SER2", env=fake("vanish"))
    check(status == 5 and out == hid_csv([], key="time") and
          err == "zelkolink-dump: HID device 046d:c216 at /fake/hidraw1 went away: it hung up\n",
          f"vanish: {status} {out!r} {err!r}")
    expect_failure(tool, ["--hid", "1209:1"], cannot_open,
                   "cannot open HID device 1209:0001 at /fake/denied0: Permission denied",
                   env=fake())

    # --seconds ends a quiet device's run; the row before it is kept.
    started = time.monotonic()
    status, out, err = outputs(tool, "--hid", "046d:c216", "--seconds", "0.3",
                                env=fake(f"report\t{spaced(gc)}"))
    took = time.monotonic() - started
    check(status == 0 and err == "" and len(out.splitlines()) == 2 and
          out.endswith(hid_row("game-controller", game_controller_values(gc)) + "\n"),
          f"--seconds: {status} {out!r} {err!r}")
    check(0.3 <= took < 20, f"--seconds 0.3 took {took:.2f} s")

    # Rows reach a pipe as they are decoded, while the device is open; Ctrl-C
    # then ends the run cleanly (status 0).
    lines = live_lines("live HID rows", tool.command + ["--hid", "046d:c216"], count=2,
                       env=fake(f"report\t{spaced(gc)}"))
    check(lines is None or lines[1].endswith("," + ",".join(map(str, game_controller_values(gc)))),
          f"live HID rows: {lines}")


def windows_hid_group(tool, args):
    """The Windows build has no live HID and says so."""
    expect_failure(tool, ["--hid", "046d:c216"], 2, "the Windows build has no live HID")


GROUPS = {"decode": decode_group, "sbus": sbus_group, "errors": errors_group, "hid": hid_group,
          "hid_live": hid_live_group, "windows_hid": windows_hid_group}


def extra_arguments(parser):
    parser.add_argument("--sample", required=True, type=pathlib.Path)
    parser.add_argument("--fake-hidapi", default="", help="stand-in for hidapi, for hid_live")


if __name__ == "__main__":
    sys.exit(main(__doc__, GROUPS, "zelkolink-dump", extra_arguments))
