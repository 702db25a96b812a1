"""Runs the documented Python and C# examples (docs/python.md, docs/csharp.md)
exactly as written and compares what they print with the output the page
shows under them, so neither can
drift from the bindings. Each example is the code block after an
`<!-- example: LANGUAGE -->` line; its output the block after
`<!-- example output: LANGUAGE -->`.

Python: the wheel this build made, installed offline into a fresh venv.
C#: compiled with mcs together with bindings/dotnet/ZelkoLink.cs and run under
mono with nothing but libZelkoLink.so.1 on LD_LIBRARY_PATH."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Dict

import pytest

ROOT = Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
BINDING = ROOT / "bindings" / "dotnet" / "ZelkoLink.cs"


def readme_block(marker: str) -> str:
    found = [block for page in PAGES for block in re.findall(
        rf"^<!-- {re.escape(marker)} -->\n```[a-z]*\n(.*?)^```$",
        page.read_text(encoding="utf-8"), re.M | re.S)]
    assert len(found) == 1, f"the docs need exactly one block marked <!-- {marker} -->"
    return found[0]


def plain_environment() -> Dict[str, str]:
    """Nothing that would point a program at a library or package elsewhere."""
    return {key: value for key, value in os.environ.items()
            if key not in ("ZELKOLINK_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH", "PYTHONHOME")}


def run(command, **options) -> str:
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            **options)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}{result.stderr}"
    return result.stdout


@pytest.mark.parametrize("name", ["python", "python capture"])
def test_python_example(tmp_path, name):
    wheels = sorted(Path(os.environ["ZELKOLINK_TEST_WHEELS"]).glob("*.whl"))
    assert len(wheels) == 1, wheels
    environment = plain_environment()
    run([sys.executable, "-m", "venv", tmp_path / "venv"], env=environment)
    python = tmp_path / "venv" / "bin" / "python"
    run([python, "-m", "pip", "install", "--quiet", "--no-index", "--disable-pip-version-check",
         wheels[0]], env=environment)
    (tmp_path / "example.py").write_text(readme_block(f"example: {name}"), encoding="utf-8")
    printed = run([python, "example.py"], cwd=tmp_path, env=environment)
    assert printed == readme_block(f"example output: {name}")


def test_csharp_example(tmp_path):
    (tmp_path / "Example.cs").write_text(readme_block("example: csharp"), encoding="utf-8")
    run([os.environ["ZELKOLINK_TEST_MCS"], "-langversion:7", "-warnaserror+", "-nologo",
         "-out:" + str(tmp_path / "Example.exe"), tmp_path / "Example.cs", BINDING])
    native = tmp_path / "native"
    native.mkdir()
    shutil.copy(os.environ["ZELKOLINK_TEST_LIBRARY"], native / "libZelkoLink.so.1")
    environment = dict(plain_environment(), LD_LIBRARY_PATH=str(native))
    printed = run([os.environ["ZELKOLINK_TEST_MONO"], tmp_path / "Example.exe"], cwd=tmp_path,
                  env=environment)
    assert printed == readme_block("example output: csharp")
