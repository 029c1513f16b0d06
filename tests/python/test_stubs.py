"""The type stubs (difrax-stubs): shipped beside the module, the same as the
module they describe (mypy's stubtest compares names, signatures, defaults,
properties and finality), and usable by mypy in strict mode."""

import importlib.metadata
import subprocess
import sys
from pathlib import Path

import pytest

import difrax

STUBS = Path(__file__).resolve().parents[2] / "difrax-stubs"

try:
    INSTALLED = {str(f) for f in importlib.metadata.files("difrax") or ()}
except importlib.metadata.PackageNotFoundError:
    INSTALLED = None
pytestmark = pytest.mark.skipif(INSTALLED is None, reason="difrax is not installed as a distribution")

EXAMPLE = '''\
import difrax

pattern: difrax.Pattern = difrax.read("scan.xrdml", index=1)
xs: list[float] = pattern.x
ys: list[float] = pattern.y
with open("run.ras", "rb") as f:
    second = difrax.read_bytes(f.read(), "run.ras", index=1, block=None)
made = difrax.Pattern([10, 10.5], (153.0, 160))
version: str = difrax.__version__
names: list[str] = difrax.__all__

# Each misuse below must be reported with exactly this error code: strict
# mode includes --warn-unused-ignores, so an ignore that is not needed fails.
difrax.read(b"scan.xy")  # type: ignore[arg-type]
difrax.read("scan.xy", 1)  # type: ignore[call-arg]
difrax.read("scan.xy", indx=1)  # type: ignore[call-arg]
difrax.read_bytes(bytearray(b"1 2"), "a.xy")  # type: ignore[arg-type]
difrax.Pattern("12", "34")  # type: ignore[arg-type]
pattern.x = []  # type: ignore[misc]
first: str = pattern.y[0]  # type: ignore[assignment]
'''


def test_stub_package_is_installed_beside_the_module():
    assert {"difrax-stubs/__init__.pyi", "difrax-stubs/py.typed"} <= INSTALLED
    installed = Path(difrax.__file__).parent / "difrax-stubs"
    for name in ("__init__.pyi", "py.typed"):
        assert (installed / name).read_bytes() == (STUBS / name).read_bytes()


@pytest.mark.parametrize(
    "args",
    [["mypy.stubtest", "difrax"], ["mypy", "--strict", "--cache-dir", "cache", "example.py"]],
    ids=["stubtest", "strict-example"],
)
def test_mypy_accepts(args, tmp_path):
    pytest.importorskip("mypy")
    (tmp_path / "example.py").write_text(EXAMPLE, encoding="utf-8")
    result = subprocess.run([sys.executable, "-m", *args], cwd=tmp_path, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
