#!/usr/bin/env python3
"""Checks the built library itself: what it exports and what it depends on.

Linux: the dynamic symbol table defines exactly the eight functions, the only
NEEDED entry is the C library, and no undefined symbol names an allocation,
I/O, abort or C++ runtime routine.
Windows: the export table holds exactly the eight undecorated names, the DLL
imports from KERNEL32 and the C runtime only and none of the forbidden
routines, and it carries a version resource naming the release.
"""
import argparse
import re
import subprocess
import sys

EXPORTS = {
    "request_upload_port_data",
    "stop_upload_port_data",
    "parse_port_data",
    "parse_hid_game_controller_device",
    "parse_hid_compatible_device",
    "convert_std_sbus_data",
    "encode_sbus_data_v1",
    "encode_sbus_data_v2",
}

# Routines the library must never reach: it allocates nothing, does no I/O,
# never aborts and has no C++ runtime.
FORBIDDEN = re.compile(
    r"^(malloc|calloc|realloc|free|aligned_alloc|posix_memalign|memalign|"
    r"_Zn[wa].*|_Zd[la].*|__cxa_(?!finalize$).*|__gxx_personality.*|_Unwind_.*|"
    r"(v?[fsd]?n?printf)|puts|fputs|putchar|fwrite|write|read|open|fopen|"
    r"abort|exit|_exit|__assert_fail|__stack_chk_fail)$"
)

WINDOWS_RUNTIME_DLLS = re.compile(r"^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z-]+-l1-1-0)\.dll$",
                                  re.IGNORECASE)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def symbols(nm, library, which):
    names = set()
    for line in run(nm, "-D", which, library).splitlines():
        fields = line.split()
        if fields:
            names.add(fields[-1].split("@")[0])
    return names


def check_linux(args):
    problems = []
    exported = symbols(args.nm, args.library, "--defined-only")
    if exported != EXPORTS:
        problems.append(f"exports differ: extra {sorted(exported - EXPORTS)}, "
                        f"missing {sorted(EXPORTS - exported)}")
    dynamic = run(args.readelf, "-d", args.library)
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic)
    if needed != ["libc.so.6"]:
        problems.append(f"NEEDED should be libc.so.6 alone, is {needed}")
    if args.soname:
        soname = re.findall(r"\(SONAME\)\s+Library soname: \[(.+?)\]", dynamic)
        if soname != [args.soname]:
            problems.append(f"SONAME should be {args.soname}, is {soname}")
    forbidden = sorted(n for n in symbols(args.nm, args.library, "--undefined-only")
                       if FORBIDDEN.match(n))
    if forbidden:
        problems.append(f"references forbidden routines: {forbidden}")
    return problems


def check_windows(args):
    problems = []
    dump = run(args.objdump, "-p", args.library)
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s+\[\s*\d+\] \S+\n)+)", dump)
    exported = set(re.findall(r"\] (\S+)", table.group(1))) if table else set()
    if exported != EXPORTS:
        problems.append(f"exports differ: extra {sorted(exported - EXPORTS)}, "
                        f"missing {sorted(EXPORTS - exported)}")
    imported = re.findall(r"DLL Name: (\S+)", dump)
    foreign = [dll for dll in imported if not WINDOWS_RUNTIME_DLLS.match(dll)]
    if foreign:
        problems.append(f"imports beyond KERNEL32 and the C runtime: {imported}")
    # Each import table lists "hint name" rows after its DLL's name.
    functions = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", dump, re.MULTILINE))
    forbidden = sorted(f for f in functions if FORBIDDEN.match(f))
    if forbidden:
        problems.append(f"imports forbidden routines: {forbidden}")
    if args.version:
        with open(args.library, "rb") as dll:
            image = dll.read()
        wanted = "FileVersion\0".encode("utf-16-le")
        at = image.find(wanted)
        found = image[at + len(wanted):at + len(wanted) + 64].decode("utf-16-le", "ignore") if at >= 0 else ""
        if not found.lstrip("\0").startswith(args.version + "\0"):
            problems.append(f"version resource should say FileVersion {args.version}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--library", required=True)
    parser.add_argument("--platform", choices=["linux", "windows"], required=True)
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--readelf", default="readelf")
    parser.add_argument("--objdump", default="objdump")
    parser.add_argument("--soname", help="expected SONAME (Linux)")
    parser.add_argument("--version", help="expected FileVersion of the version resource (Windows)")
    args = parser.parse_args()
    problems = check_linux(args) if args.platform == "linux" else check_windows(args)
    for problem in problems:
        print(f"{args.library}: {problem}")
    print(f"{1 - bool(problems)} passed, {int(bool(problems))} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
