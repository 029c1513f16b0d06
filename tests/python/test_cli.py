"""The difrax command-line tool end to end, against what the module loads from the same
files. The round trip: every pattern of every bundled example and builder-made file,
converted to XY and CSV and loaded back, gives exactly the same x and y."""

import itertools
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import difrax
from builders import BUILT, load

beside = Path(sys.executable).with_name("difrax")
TOOL = str(beside) if beside.is_file() and os.access(beside, os.X_OK) else shutil.which("difrax")
pytestmark = pytest.mark.skipif(TOOL is None, reason="the difrax command-line tool is not installed")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
EXAMPLE_FILES = sorted(p for p in EXAMPLES.iterdir() if p.suffix != ".py") if EXAMPLES.is_dir() else []
FORMAT_BY_SUFFIX = {
    ".xy": "XY", ".chi": "CHI", ".ras": "RAS", ".uxd": "UXD", ".gsa": "GSAS", ".cif": "pdCIF", ".raw": "Bruker RAW",
    ".xrdml": "XRDML", ".brml": "BRML", ".rasx": "RASX",
}
POINTS = re.compile(r"  \[(\d+)\] (\d+) points, 2theta (\S+) to (\S+) deg(?:, step (\S+))?, intensity (\S+) to (\S+)")
# Values at the ends of the double range must come back exactly.
EXTREME_X = [-1e300, -5e-324, 0.0, 1e-300, 0.1 + 0.2, 89.99999999999999, 1e300]
EXTREME_Y = [1.7976931348623157e308, -2.2250738585072014e-308, 1 / 3, -0.0, 123456789.123456789, 5e-324, -1e-7]
SOURCES = {**BUILT, "extreme.xy": "".join(f"{a!r} {b!r}\n" for a, b in zip(EXTREME_X, EXTREME_Y)).encode()}


def run(*args, cwd=None):
    """Runs the tool; its output as text, line ends untranslated."""
    result = subprocess.run([TOOL, *map(str, args)], cwd=cwd, capture_output=True)
    result.stdout, result.stderr = (s.decode("utf-8", "replace") for s in (result.stdout, result.stderr))
    return result


def example(name):
    if not (EXAMPLES / name).is_file():
        pytest.skip(f"example {name} not present")
    return EXAMPLES / name


@pytest.mark.parametrize("args", [["--help"], ["-h"], ["convert", "scan.ras", "--help"], ["info", "-h"]])
def test_help_shows_usage_and_examples(args):
    result = run(*args)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.startswith("usage: difrax info FILE...\n")
    examples = result.stdout.split("\nexamples:\n", 1)[1].splitlines()
    assert {tuple(line.split()[:2]) for line in examples if line.strip()} == {("difrax", "info"), ("difrax", "convert")}


@pytest.mark.parametrize(
    "args",
    [[], ["inspect", "{f}"], ["info"], ["info", "--index", "1", "{f}"], ["convert"], ["convert", "{f}", "--index"],
     ["convert", "{f}", "--index", "-1"], ["convert", "{f}", "--index", "two"], ["convert", "{f}", "--format", "json"],
     ["convert", "{f}", "--bogus"]],
)
def test_wrong_usage_exits_2(args, tmp_path):
    result = run(*[a.format(f=example("corundum.xy")) for a in args], cwd=tmp_path)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("difrax: ") and "difrax --help" in result.stderr
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("source", [*EXAMPLE_FILES, *SOURCES], ids=lambda s: getattr(s, "name", s))
def test_info_and_round_trip(source, tmp_path):
    path = source
    if isinstance(source, str):
        path = tmp_path / source
        path.write_bytes(SOURCES[source])
    # `difrax info` against the module's loads of each pattern.
    result = run("info", path)
    assert result.stdout.startswith(f"{path}: ") and result.stderr == ""
    first, *lines = result.stdout[len(f"{path}: "):].splitlines()
    name, count = re.fullmatch(r"(.+), (\d+) patterns?", first).groups()
    assert name == FORMAT_BY_SUFFIX[path.suffix] and len(lines) == int(count)
    for i, line in enumerate(lines):
        x, y = load(str(path), index=i)
        if x is ValueError:
            assert line == f"  [{i}] refused: {y}"
            continue
        match = POINTS.fullmatch(line)
        assert match and int(match[1]) == i and int(match[2]) == len(x), line
        assert (float(match[3]), float(match[4]), float(match[6]), float(match[7])) == (x[0], x[-1], min(y), max(y))
        if len(x) > 1:
            assert float(match[5]) == pytest.approx((x[-1] - x[0]) / (len(x) - 1), rel=1e-5)
    assert result.returncode == int("refused: " in result.stdout)
    kind, beyond = load(str(path), index=len(lines))  # the count is what the module can select
    assert kind is ValueError and ("out of range" in beyond or "index must be 0" in beyond)
    # Each index, one beyond the last, and for powder CIF every data block, converted to XY and CSV, loads
    # back as the module loads the source, or is refused alike.
    choices = [{"index": i} for i in range(len(lines) + 1)]
    if name == "pdCIF":
        choices += [{"block": b} for b in re.findall(r"^data_(\S+)", path.read_text(encoding="utf-8"), re.MULTILINE)]
        choices.append({"block": choices[-1]["block"], "index": 1})
    for options, form in itertools.product(choices, ("xy", "csv")):
        expected = load(str(path), **options)
        out = tmp_path / f"out.{form}"
        out.unlink(missing_ok=True)
        result = run("convert", path, *itertools.chain(*((f"--{k}", v) for k, v in options.items())),
                     "--format", form, "-o", out)
        if expected[0] is ValueError:
            assert (result.returncode, result.stdout, result.stderr) == (1, "", f"difrax: {path}: {expected[1]}\n")
            assert not out.exists()
        else:
            assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
            assert load(str(out)) == expected, (options, form)


def test_control_characters_in_names_are_not_written_out(tmp_path):
    """A line break in a name would start a data row; an escape would command the terminal."""
    odd, refused = tmp_path / "scan\n5 7", tmp_path / "\x1b[2Jgone.xy"
    odd.write_text("10 1\n11 2\n", encoding="utf-8")
    shown = str(odd).replace("\n", "?")
    result = run("convert", odd)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == f"# 2theta intensity, from {shown}\n10 1\n11 2\n"
    result = run("info", odd, refused)
    assert result.stdout.startswith(f"{shown}: XY, 1 pattern\n  [0] 2 points")
    assert result.stderr.startswith(f"difrax: {str(refused).replace(chr(27), '?')}: IO error: ")


def test_info_reports_every_file_and_exits_1_when_one_is_refused(tmp_path):
    good, empty, junk, missing = example("corundum.xy"), tmp_path / "empty.xy", tmp_path / "junk.zip", tmp_path / "a.xy"
    empty.write_bytes(b"")
    junk.write_bytes(b"PK\x03\x04" + bytes(60))
    result = run("info", missing, good, empty, junk, tmp_path)
    assert result.returncode == 1
    assert result.stdout.startswith(f"{good}: XY, 1 pattern\n  [0] ")
    assert result.stdout.endswith(f"{empty}: XY, 1 pattern\n  [0] refused: {load(str(empty))[1]}\n")
    missing_error, junk_error, folder_error = result.stderr.splitlines()
    assert missing_error.startswith(f"difrax: {missing}: ") and folder_error.startswith(f"difrax: {tmp_path}: ")
    assert junk_error == f"difrax: {junk}: {load(str(junk))[1]}"


@pytest.mark.parametrize(
    "args, written",
    [([], None), (["-o", "-"], None), (["--format", "csv"], None), (["-o", "scan.xy"], "scan.xy"),
     (["-o", "folder"], "folder/corundum.ras.xy"), (["-o", "new/"], "new/corundum.ras.xy")],
)
def test_convert_one_file(tmp_path, args, written):
    """To standard output, to a file, or into a folder that exists or is named with a final slash."""
    path = example("corundum.ras")
    (tmp_path / "folder").mkdir()
    result = run("convert", path, *args, cwd=tmp_path)
    assert (result.returncode, result.stderr) == (0, "")
    files = [p.relative_to(tmp_path).as_posix() for p in tmp_path.rglob("*") if p.is_file()]
    assert files == ([written] if written else [])
    text = (tmp_path / written).read_text(encoding="utf-8") if written else result.stdout
    assert result.stdout == ("" if written else text)
    sep = "," if "csv" in args else " "
    header, *rows = text.splitlines()
    assert header == ("2theta,intensity" if sep == "," else f"# 2theta intensity, from {path}")
    expected = difrax.read(str(path))
    assert [tuple(map(float, row.split(sep))) for row in rows] == list(zip(expected.x, expected.y))


def test_convert_several_to_a_folder(tmp_path):
    """Names that collide get a number; a refused input is reported and the rest converted."""
    ras, missing, copy = example("corundum.ras"), tmp_path / "missing.chi", tmp_path / "other" / "corundum.ras"
    copy.parent.mkdir()
    shutil.copy(ras, copy)
    inputs = [ras, missing, brml := example("corundum.brml"), copy]
    folder = tmp_path / "converted"
    result = run("convert", *inputs, "--format", "csv", "-o", folder)
    assert (result.returncode, result.stdout) == (1, "")
    # Progress, one line per input when standard error is not a terminal; a refusal follows its line.
    with pytest.raises(OSError) as error:
        difrax.read(str(missing))
    progress = [f"[{n}/4] {source}\n" for n, source in enumerate(inputs, 1)]
    progress.insert(2, f"difrax: {missing}: IO error: {error.value}\n")
    assert result.stderr == "".join(progress)
    names = ["corundum.ras.csv", "corundum.brml.csv", "corundum.ras-2.csv"]
    assert sorted(p.name for p in folder.iterdir()) == sorted(names)
    for source, name in zip([ras, brml, copy], names):
        assert (folder / name).read_text(encoding="utf-8") == run("convert", source, "--format", "csv").stdout


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full on this system")
@pytest.mark.parametrize("args", [["convert", "{f}"], ["info", "{f}"], ["--help"]])
def test_output_that_cannot_be_written_fails_the_run(args):
    """A full disk behind standard output is a failure, not a silent success."""
    path = example("corundum.ras")
    with open("/dev/full", "wb") as full:
        result = subprocess.run([TOOL, *(str(a).replace("{f}", str(path)) for a in args)], stdout=full,
                                stderr=subprocess.PIPE)
    assert (result.returncode, result.stderr) == (1, b"difrax: cannot write standard output: No space left on device\n")
