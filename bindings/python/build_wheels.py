#!/usr/bin/env python3
"""Builds the zelkolink wheels, one per native library given, offline.

    /usr/bin/python3 bindings/python/build_wheels.py --out DIR \\
        [--linux PATH/libZelkoLink.so.1] [--win64 PATH/ZelkoLink.dll] [--win32 PATH/ZelkoLink.dll]

Each wheel is the pure-Python package with the native library inside it,
tagged py3-none-<platform>, so one wheel serves every Python 3.8+ on its
platform. The package is copied into a scratch folder with the library, and
`python -m build --wheel --no-isolation` (Debian's python3-build, with
python3-setuptools and python3-wheel) builds it there: no package index is
needed, and the source tree is left as it was.

Before building, each library is checked for the platform it is given for
(ELF x86-64, PE x86-64 or PE i386). The Linux wheel is tagged manylinux for
the newest glibc symbol version the library requires, when it needs nothing
but glibc's own libraries; otherwise linux_x86_64.

The version is the project's, read from CMakeLists.txt's project() unless
--version gives it.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Dict, List, Optional, Set, Tuple

HERE = Path(__file__).resolve().parent
PROJECT_ROOT = HERE.parent.parent

LINUX_LIBRARY = "libZelkoLink.so.1"
WINDOWS_LIBRARY = "ZelkoLink.dll"

# Libraries a manylinux wheel may rely on without carrying them: glibc's own.
GLIBC_LIBRARIES = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1"}
# The oldest glibc a Linux wheel claims, manylinux2014's, whichever older
# one the library would allow: older pip releases know it by its legacy name.
MANYLINUX_FLOOR = (2, 17)

ELF_MACHINE_X86_64 = 62
PE_MACHINE = {"win_amd64": 0x8664, "win32": 0x014C}

SHT_DYNAMIC = 6
SHT_GNU_VERNEED = 0x6FFFFFFE
DT_NEEDED = 1


class WheelError(Exception):
    """A library that cannot be packed as asked; the message says why."""


def project_version() -> str:
    text = (PROJECT_ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*ZelkoLink\b[^)]*?\bVERSION\s+([0-9][0-9.]*)", text)
    if not match:
        raise WheelError(f"no VERSION in project() of {PROJECT_ROOT / 'CMakeLists.txt'}")
    return match.group(1)


def elf_requirements(path: Path) -> Tuple[List[str], Set[str]]:
    """The NEEDED libraries of a 64-bit little-endian x86-64 ELF shared
    object and the symbol versions it requires (e.g. GLIBC_2.2.5)."""
    data = path.read_bytes()
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise WheelError(f"{path} is not a 64-bit little-endian ELF file")
    machine, = struct.unpack_from("<H", data, 18)
    if machine != ELF_MACHINE_X86_64:
        raise WheelError(f"{path} is built for ELF machine {machine}, not x86-64")
    shoff, = struct.unpack_from("<Q", data, 40)
    shentsize, shnum = struct.unpack_from("<HH", data, 58)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + index * shentsize)
                for index in range(shnum)]

    def string(section: int, offset: int) -> str:
        start = sections[section][4] + offset
        return data[start:data.index(b"\0", start)].decode("ascii")

    needed: List[str] = []
    versions: Set[str] = set()
    for _, kind, _, _, offset, size, link, _, _, _ in sections:
        if kind == SHT_DYNAMIC:
            for entry in range(offset, offset + size, 16):
                tag, value = struct.unpack_from("<qQ", data, entry)
                if tag == DT_NEEDED:
                    needed.append(string(link, value))
        elif kind == SHT_GNU_VERNEED:
            need = offset
            while True:
                _, count, _, aux, following = struct.unpack_from("<HHIII", data, need)
                entry = need + aux
                for _ in range(count):
                    _, _, _, name, next_aux = struct.unpack_from("<IHHII", data, entry)
                    versions.add(string(link, name))
                    entry += next_aux
                if not following:
                    break
                need += following
    return needed, versions


def linux_platform(path: Path) -> str:
    """manylinux_2_N_x86_64 for the newest GLIBC_2.N the library requires,
    or linux_x86_64 when it needs more than glibc."""
    needed, versions = elf_requirements(path)
    glibc = []
    for version in versions:
        match = re.fullmatch(r"GLIBC_(\d+)\.(\d+)(?:\.\d+)?", version)
        if not match:
            return "linux_x86_64"
        glibc.append((int(match.group(1)), int(match.group(2))))
    if not set(needed) <= GLIBC_LIBRARIES:
        return "linux_x86_64"
    major, minor = max(glibc + [MANYLINUX_FLOOR])
    tag = f"manylinux_{major}_{minor}_x86_64"
    if (major, minor) == MANYLINUX_FLOOR:
        tag += ".manylinux2014_x86_64"
    return tag


def check_pe(path: Path, platform: str) -> None:
    data = path.read_bytes()
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise WheelError(f"{path} is not a Windows DLL")
    header, = struct.unpack_from("<I", data, 0x3C)
    if data[header:header + 4] != b"PE\0\0":
        raise WheelError(f"{path} is not a Windows DLL")
    machine, = struct.unpack_from("<H", data, header + 4)
    if machine != PE_MACHINE[platform]:
        names = {value: key for key, value in PE_MACHINE.items()}
        raise WheelError(f"{path} is a {names.get(machine, hex(machine))} DLL, "
                         f"not the {platform} one asked for")


def build_wheel(library: Path, runtime_name: str, platform: str, version: str, out: Path) -> Path:
    with tempfile.TemporaryDirectory(prefix="zelkolink-wheel-") as scratch:
        staging = Path(scratch) / "zelkolink"
        staging.mkdir()
        for name in ("pyproject.toml", "setup.py"):
            shutil.copy2(HERE / name, staging / name)
        shutil.copytree(HERE / "zelkolink", staging / "zelkolink",
                        ignore=shutil.ignore_patterns("__pycache__", "*.so*", "*.dll"))
        shutil.copy(library, staging / "zelkolink" / runtime_name)  # follows symbolic links
        environment = dict(os.environ, ZELKOLINK_WHEEL_VERSION=version,
                           ZELKOLINK_WHEEL_PLATFORM=platform)
        result = subprocess.run(
            [sys.executable, "-m", "build", "--wheel", "--no-isolation", "--outdir", str(out),
             str(staging)],
            env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            raise WheelError(f"building the {platform} wheel failed:\n{result.stdout}")
    wheel = out / f"zelkolink-{version}-py3-none-{platform}.whl"
    if not wheel.is_file():
        raise WheelError(f"the build reported success but {wheel} is missing")
    return wheel


def main(arguments: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        description="Build the zelkolink wheels, one per native library given, offline.")
    parser.add_argument("--out", required=True, type=Path, help="folder that receives the wheels")
    parser.add_argument("--linux", type=Path, metavar="PATH",
                        help="libZelkoLink.so.1 (x86-64) for the Linux wheel")
    parser.add_argument("--win64", type=Path, metavar="PATH",
                        help="64-bit ZelkoLink.dll for the win_amd64 wheel")
    parser.add_argument("--win32", type=Path, metavar="PATH",
                        help="32-bit ZelkoLink.dll for the win32 wheel")
    parser.add_argument("--version", help="the wheels' version (default: the project's, "
                        "from CMakeLists.txt)")
    args = parser.parse_args(arguments)
    if not (args.linux or args.win64 or args.win32):
        parser.error("give at least one of --linux, --win64, --win32")
    try:
        version = args.version or project_version()
        jobs: Dict[str, Tuple[Path, str]] = {}
        for option, path in (("linux", args.linux), ("win_amd64", args.win64),
                             ("win32", args.win32)):
            if path is None:
                continue
            if not path.is_file():
                raise WheelError(f"{path}: no such file")
            if option == "linux":
                jobs[linux_platform(path)] = (path, LINUX_LIBRARY)
            else:
                check_pe(path, option)
                jobs[option] = (path, WINDOWS_LIBRARY)
        args.out.mkdir(parents=True, exist_ok=True)
        for platform, (path, runtime_name) in jobs.items():
            wheel = build_wheel(path, runtime_name, platform, version, args.out.resolve())
            print(f"{wheel} ({wheel.stat().st_size} bytes)")
    except (WheelError, OSError) as error:
        print(f"build_wheels.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
