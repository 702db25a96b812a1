"""Where the package finds the native library: ZELKOLINK_LIBRARY, then the
bundled copy, then the system loader; and what ImportError says when none
loads. Each case imports a copy of the package in a fresh interpreter."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

PACKAGE = Path(__file__).resolve().parents[1] / "zelkolink"
LIBRARY = Path(os.environ["ZELKOLINK_LIBRARY"]).resolve()
LIBC = "libc.so.6"
SHOW = "import zelkolink, zelkolink._native as n; print(n.library._name); print(zelkolink.stop_frame().hex())"


def clean_environment() -> dict:
    return {key: value for key, value in os.environ.items()
            if key not in ("ZELKOLINK_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH")}


def system_loader_finds_the_library() -> bool:
    """Asked in a fresh process: this one has the library loaded already."""
    probe = "import ctypes; ctypes.CDLL('libZelkoLink.so.1')"
    return subprocess.run([sys.executable, "-c", probe], env=clean_environment(),
                          capture_output=True).returncode == 0


@pytest.fixture
def place(tmp_path):
    """A copy of the package, a folder holding only libZelkoLink.so.1, and
    a function that imports the copy in a fresh interpreter."""
    tmp_path = tmp_path.resolve()
    shutil.copytree(PACKAGE, tmp_path / "zelkolink", ignore=shutil.ignore_patterns("__pycache__"))
    (tmp_path / "system").mkdir()
    shutil.copy(LIBRARY, tmp_path / "system" / "libZelkoLink.so.1")

    def run(configured=None, bundled=False, system=False):
        if bundled:
            shutil.copy(LIBRARY, tmp_path / "zelkolink" / "libZelkoLink.so.1")
        environment = clean_environment()
        environment["PYTHONPATH"] = str(tmp_path)
        if configured:
            environment["ZELKOLINK_LIBRARY"] = configured.format(tmp=tmp_path)
        if system:
            environment["LD_LIBRARY_PATH"] = str(tmp_path / "system")
        return subprocess.run([sys.executable, "-W", "always", "-c", SHOW], env=environment,
                              capture_output=True, text=True, cwd=tmp_path)

    return tmp_path, run


@pytest.mark.parametrize("configured, bundled, system, loads, warning", [
    ("{tmp}/system/libZelkoLink.so.1", True, True, "{tmp}/system/libZelkoLink.so.1", None),
    (None, True, True, "{tmp}/zelkolink/libZelkoLink.so.1", None),
    (None, False, True, "libZelkoLink.so.1", None),
    ("{tmp}/missing.so", True, False, "{tmp}/zelkolink/libZelkoLink.so.1",
     "ZELKOLINK_LIBRARY={tmp}/missing.so: {tmp}/missing.so: cannot open shared object file"),
    (LIBC, False, True, "libZelkoLink.so.1",
     f"ZELKOLINK_LIBRARY={LIBC}: {LIBC} is not this library"),
])
def test_loading_order(place, configured, bundled, system, loads, warning):
    tmp, run = place
    result = run(configured, bundled, system)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == [loads.format(tmp=tmp), "fae400005f"]
    if warning:
        assert "RuntimeWarning" in result.stderr and warning.format(tmp=tmp) in result.stderr
    else:
        assert result.stderr == ""


@pytest.mark.parametrize("configured, reason", [
    ("{tmp}/missing.so", "{tmp}/missing.so: cannot open shared object file"),
    (LIBC, f"{LIBC} is not this library: .*{LIBC}: undefined symbol: request_upload_port_data"),
    (None, None),
])
def test_a_failed_load_names_every_place_tried(place, configured, reason):
    if system_loader_finds_the_library():
        pytest.skip("this machine has libZelkoLink.so.1 installed, so the system loader never fails")
    tmp, run = place
    result = run(configured)
    assert result.returncode != 0
    message = result.stderr[result.stderr.index("ImportError: "):].splitlines()
    expected = [r"ImportError: zelkolink: cannot load the native library; tried:$"]
    if configured:
        expected.append(f"  ZELKOLINK_LIBRARY={configured}: {reason}".format(tmp=re.escape(str(tmp))))
    expected += [f"  bundled copy {re.escape(str(tmp))}/zelkolink/libZelkoLink.so.1: no such file$",
                 r"  system loader \(libZelkoLink.so.1\): libZelkoLink.so.1: cannot open shared object file"]
    assert len(message) == len(expected), message
    for line, pattern in zip(message, expected):
        assert re.match(pattern, line), line
