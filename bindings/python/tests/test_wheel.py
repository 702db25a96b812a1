"""The wheel this build made: its name and tags, that the library inside fits
the tag, that it carries the package's files and this build's library under
the name the loader looks for, its metadata and record; and that
build_wheels.py refuses a library given for the wrong platform."""
import base64
import hashlib
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path
from typing import List

import pytest

WHEELS = Path(os.environ["ZELKOLINK_TEST_WHEELS"])
PLATFORM = os.environ["ZELKOLINK_TEST_PLATFORM"]  # linux, win_amd64 or win32
LIBRARY = Path(os.environ["ZELKOLINK_TEST_LIBRARY"])
VERSION = os.environ["ZELKOLINK_TEST_VERSION"]
OBJDUMP = os.environ["ZELKOLINK_TEST_OBJDUMP"]
READELF = os.environ.get("ZELKOLINK_TEST_READELF", "")
PYTHON = Path(__file__).resolve().parents[1]
RUNTIME_NAME = "libZelkoLink.so.1" if PLATFORM == "linux" else "ZelkoLink.dll"
GLIBC_LIBRARIES = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1"}


@pytest.fixture(scope="module")
def wheel() -> Path:
    found = sorted(WHEELS.glob("*.whl"))
    assert len(found) == 1, f"one wheel expected in {WHEELS}, found {found}"
    return found[0]


def platform_tags(wheel: Path) -> List[str]:
    match = re.fullmatch(rf"zelkolink-{re.escape(VERSION)}-py3-none-([a-z0-9_.]+)\.whl", wheel.name)
    assert match, wheel.name
    return match.group(1).split(".")


def test_name_and_tags(wheel):
    tags = platform_tags(wheel)
    with zipfile.ZipFile(wheel) as archive:
        description = archive.read(f"zelkolink-{VERSION}.dist-info/WHEEL").decode()
    assert sorted(re.findall(r"^Tag: (.+)$", description, re.M)) == sorted(f"py3-none-{t}" for t in tags)
    assert "Root-Is-Purelib: false" in description
    if PLATFORM == "linux":
        assert all(re.fullmatch(r"manylinux_2_\d+_x86_64|manylinux2014_x86_64|linux_x86_64", t)
                   for t in tags), tags
    else:
        assert tags == [PLATFORM]


def test_library_fits_the_tag(wheel, tmp_path):
    with zipfile.ZipFile(wheel) as archive:
        library = Path(archive.extract(f"zelkolink/{RUNTIME_NAME}", tmp_path))
    if PLATFORM != "linux":
        header = subprocess.run([OBJDUMP, "-f", str(library)], check=True, capture_output=True,
                                text=True).stdout
        expected = {"win_amd64": "pei-x86-64", "win32": "pei-i386"}[PLATFORM]
        assert f"file format {expected}" in header
        return
    tag = platform_tags(wheel)[0]
    if tag == "linux_x86_64":
        return  # claims nothing about the system's libraries
    claimed = (2, int(re.fullmatch(r"manylinux_2_(\d+)_x86_64", tag).group(1)))
    symbols = subprocess.run([OBJDUMP, "-T", str(library)], check=True, capture_output=True,
                             text=True).stdout
    required = [(int(major), int(minor)) for major, minor in re.findall(r"\(GLIBC_(\d+)\.(\d+)", symbols)]
    assert required and max(required) <= claimed, f"{tag} claimed, needs GLIBC {max(required)}"
    assert not re.search(r"\((GLIBCXX|CXXABI|GCC)_", symbols)
    dynamic = subprocess.run([READELF, "-d", str(library)], check=True, capture_output=True,
                             text=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic))
    assert needed <= GLIBC_LIBRARIES


def test_contents(wheel):
    sources = {f"zelkolink/{p.name}": p.read_bytes() for p in (PYTHON / "zelkolink").iterdir()
               if p.suffix == ".py" or p.name == "py.typed"}
    dist_info = f"zelkolink-{VERSION}.dist-info"
    with zipfile.ZipFile(wheel) as archive:
        files = {name: archive.read(name) for name in archive.namelist()}
    package = {name: data for name, data in files.items() if name.startswith("zelkolink/")}
    assert package == dict(sources, **{f"zelkolink/{RUNTIME_NAME}": LIBRARY.read_bytes()})
    metadata = files[f"{dist_info}/METADATA"].decode()
    assert f"\nVersion: {VERSION}\n" in metadata and "\nRequires-Python: >=3.8\n" in metadata
    listed = set()
    for line in files[f"{dist_info}/RECORD"].decode().splitlines():
        name, digest, size = line.rsplit(",", 2)
        listed.add(name)
        if name != f"{dist_info}/RECORD":
            hashed = base64.urlsafe_b64encode(hashlib.sha256(files[name]).digest()).rstrip(b"=")
            assert (digest, size) == (f"sha256={hashed.decode()}", str(len(files[name]))), name
    assert listed == set(files)


# What build_wheels.py says when given this build's library for another
# platform.
OPTION = {"linux": "--linux", "win_amd64": "--win64", "win32": "--win32"}
REFUSALS = {
    "linux": [("--win64", "is not a Windows DLL"), ("--win32", "is not a Windows DLL")],
    "win_amd64": [("--win32", "is a win_amd64 DLL, not the win32 one asked for"),
                  ("--linux", "is not a 64-bit little-endian ELF file")],
    "win32": [("--win64", "is a win32 DLL, not the win_amd64 one asked for"),
              ("--linux", "is not a 64-bit little-endian ELF file")],
}


@pytest.mark.parametrize("option, missing, message",
                         [(option, False, message) for option, message in REFUSALS[PLATFORM]]
                         + [(OPTION[PLATFORM], True, "no such file")])
def test_build_wheels_refuses_the_wrong_library(tmp_path, option, missing, message):
    library = tmp_path / RUNTIME_NAME if missing else LIBRARY
    result = subprocess.run([sys.executable, str(PYTHON / "build_wheels.py"), "--out",
                             str(tmp_path / "out"), option, str(library)], capture_output=True, text=True)
    assert result.returncode == 1
    assert result.stderr.startswith("build_wheels.py: ") and message in result.stderr
    assert not (tmp_path / "out").exists()
