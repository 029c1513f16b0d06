"""The difrax command-line tool end to end: `difrax info` and `difrax convert`
on the bundled examples and on the files the other tests build, checked
against what the module loads from the same files.

The round trip: every pattern of every file, converted to XY (and CSV) and
loaded back with difrax, gives exactly the same x and y."""

import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import difrax
import test_containers
import test_pdcif
import test_raw
import test_text_formats
import test_xrdml


def find_tool():
    beside = Path(sys.executable).with_name("difrax")
    if beside.is_file() and os.access(beside, os.X_OK):
        return str(beside)
    return shutil.which("difrax")


TOOL = find_tool()
pytestmark = pytest.mark.skipif(TOOL is None, reason="the difrax command-line tool is not installed")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
EXAMPLE_FILES = sorted(p for p in EXAMPLES.iterdir() if p.suffix != ".py") if EXAMPLES.is_dir() else []

FORMAT_BY_SUFFIX = {
    ".xy": "XY", ".chi": "CHI", ".ras": "RAS", ".uxd": "UXD", ".gsa": "GSAS", ".cif": "pdCIF",
    ".raw": "Bruker RAW", ".xrdml": "XRDML", ".brml": "BRML", ".rasx": "RASX",
}

# The files the other test modules build, as they build them for their
# successful loads (some of their scans are refused, which the tool must
# report the same way).
BUILT = {
    "ranges.raw": test_raw.raw3((10.0, 0.5, 0, [1, 2, 3]), (40.0, -0.25, 3, [4, 5]), (20.0, 0.125, 20, [6, 7])),
    "drives.raw": test_raw.raw4(
        ("Rocking Curve", None, 1.0, 0.1, [9]), ("Rocking Curve", " 2-Theta ", 30.0, -0.5, [1, 2, 3])
    ),
    "scans.brml": test_containers.brml([(10.0, 5), (10.5, 7)], [(30.5, 1), (30.0, 2)]),
    "stored.brml": test_containers.brml([(10.0, 5), (10.5, 7)], method=zipfile.ZIP_STORED),
    "profile.rasx": test_containers.rasx("\ufeff8.5\t591\t1\r\n\r\n8.51\t609\t1\r\n"),
    "run.xrdml": test_xrdml.DOCUMENT,
    "lab.chi": test_text_formats.CHI.encode(),
    "run.ras": test_text_formats.RAS.encode(),
    "bt86.uxd": test_text_formats.UXD.encode(),
    "pbso4.gsa": test_text_formats.GSAS.encode(),
    "sucrose.fxye": test_text_formats.FXYE.encode(),
    "deposit.cif": test_pdcif.PDCIF.encode(),
}


def run(*args, cwd=None):
    """Runs the tool; its output as text, line ends untranslated."""
    result = subprocess.run([TOOL, *map(str, args)], cwd=cwd, capture_output=True)
    result.stdout = result.stdout.decode("utf-8", "replace")
    result.stderr = result.stderr.decode("utf-8", "replace")
    return result


@pytest.fixture
def built(tmp_path):
    """Writes one of the BUILT files to tmp_path; returns its path."""

    def write(name):
        path = tmp_path / "in" / name
        path.parent.mkdir(exist_ok=True)
        path.write_bytes(BUILT[name])
        return path

    return write


def example(name):
    path = EXAMPLES / name
    if not path.is_file():
        pytest.skip(f"example {name} not present")
    return path


def load(path, **options):
    """The module's result: the pattern, or the text of its ValueError."""
    try:
        return difrax.read(str(path), **options)
    except ValueError as refused:
        return str(refused)


def pattern_count(path):
    """How many patterns `difrax info` says the file holds."""
    result = run("info", path)
    first = result.stdout.splitlines()[0]
    match = re.fullmatch(re.escape(str(path)) + r": (.+), (\d+) patterns?", first)
    assert match, result.stdout + result.stderr
    return match[1], int(match[2])


# --- help and usage --------------------------------------------------------------


@pytest.mark.parametrize("args", [["--help"], ["-h"], ["convert", "scan.ras", "--help"], ["info", "-h"]])
def test_help_shows_usage_and_examples(args):
    result = run(*args)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.startswith("usage: difrax info FILE...\n")
    examples = result.stdout.split("\nexamples:\n", 1)[1].splitlines()
    commands = [line.split()[:2] for line in examples if line.strip()]
    assert {tuple(c) for c in commands} == {("difrax", "info"), ("difrax", "convert")}


@pytest.mark.parametrize(
    "args",
    [
        [],
        ["inspect", "{f}"],
        ["info"],
        ["info", "--index", "1", "{f}"],
        ["convert"],
        ["convert", "{f}", "--index"],
        ["convert", "{f}", "--index", "-1"],
        ["convert", "{f}", "--index", "two"],
        ["convert", "{f}", "--format", "json"],
        ["convert", "{f}", "--format"],
        ["convert", "{f}", "-o"],
        ["convert", "{f}", "--bogus"],
    ],
)
def test_wrong_usage_exits_2(args, tmp_path):
    good = example("corundum.xy")
    result = run(*[a.format(f=good) for a in args], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr.startswith("difrax: ") and "difrax --help" in result.stderr
    assert list(tmp_path.iterdir()) == []


# --- info --------------------------------------------------------------------------

POINT_LINE = re.compile(
    r"  \[(\d+)\] (\d+) points, 2theta (\S+) to (\S+) deg(?:, step (\S+))?, intensity (\S+) to (\S+)"
)


def check_info(path):
    """`difrax info` on one file against what the module loads from it."""
    result = run("info", path)
    lines = result.stdout.splitlines()
    name, count = pattern_count(path)
    assert len(lines) == count + 1
    refused = False
    for i, line in enumerate(lines[1:]):
        loaded = load(path, index=i)
        if isinstance(loaded, str):
            assert line == f"  [{i}] refused: {loaded}"
            refused = True
            continue
        match = POINT_LINE.fullmatch(line)
        assert match, line
        assert int(match[1]) == i and int(match[2]) == len(loaded.x)
        assert (float(match[3]), float(match[4])) == (loaded.x[0], loaded.x[-1])
        assert (float(match[6]), float(match[7])) == (min(loaded.y), max(loaded.y))
        if len(loaded.x) > 1:
            step = (loaded.x[-1] - loaded.x[0]) / (len(loaded.x) - 1)
            assert float(match[5]) == pytest.approx(step, rel=1e-5)
    # The count is the number of patterns the module can select.
    beyond = load(path, index=count)
    assert isinstance(beyond, str) and ("out of range" in beyond or "index must be 0" in beyond)
    assert result.returncode == (1 if refused else 0)
    assert result.stderr == ""
    return name, count


@pytest.mark.parametrize("path", EXAMPLE_FILES, ids=lambda p: p.name)
def test_info_on_examples(path):
    name, count = check_info(path)
    assert name == FORMAT_BY_SUFFIX[path.suffix]
    assert count == (1 if name in ("XY", "CHI", "pdCIF") else 2)


def test_every_format_has_an_example():
    formats = {FORMAT_BY_SUFFIX.get(p.suffix) for p in EXAMPLE_FILES}
    assert formats == set(FORMAT_BY_SUFFIX.values())
    signatures = {p.read_bytes()[:7] for p in EXAMPLE_FILES if p.suffix == ".raw"}
    assert signatures == {b"RAW1.01", b"RAW4.00"}


@pytest.mark.parametrize("name", sorted(BUILT))
def test_info_on_built_files(name, built):
    check_info(built(name))


def test_info_reports_every_file_and_exits_1_when_one_is_refused(tmp_path):
    good = example("corundum.xy")
    empty = tmp_path / "empty.xy"
    empty.write_bytes(b"")
    junk = tmp_path / "junk.zip"
    junk.write_bytes(b"PK\x03\x04" + bytes(60))
    missing = tmp_path / "missing.xy"
    result = run("info", missing, good, empty, junk)
    assert result.returncode == 1
    assert result.stdout.startswith(f"{good}: XY, 1 pattern\n  [0] ")
    assert f"{empty}: XY, 1 pattern\n  [0] refused: {load(empty)}\n" in result.stdout
    errors = result.stderr.splitlines()
    assert errors[0].startswith(f"difrax: {missing}: ")
    assert errors[1] == f"difrax: {junk}: {load(junk)}"


def test_info_on_a_folder_is_a_refusal(tmp_path):
    result = run("info", tmp_path)
    assert result.returncode == 1 and result.stderr.startswith(f"difrax: {tmp_path}: ")


# --- convert -----------------------------------------------------------------------


def test_convert_to_standard_output():
    path = example("corundum.ras")
    result = run("convert", path)
    assert (result.returncode, result.stderr) == (0, "")
    header, *rows = result.stdout.splitlines()
    assert header == f"# 2theta intensity, from {path}"
    expected = difrax.read(str(path))
    assert [tuple(map(float, row.split(" "))) for row in rows] == list(zip(expected.x, expected.y))
    assert run("convert", path, "-o", "-").stdout == result.stdout


def test_convert_to_a_file(tmp_path):
    path = example("corundum.xrdml")
    out = tmp_path / "scan.xy"
    result = run("convert", path, "-o", out)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    assert out.read_text(encoding="utf-8") == run("convert", path).stdout


def test_convert_several_to_a_folder(tmp_path):
    inputs = [example("corundum.ras"), example("corundum.brml"), example("corundum.xy")]
    twin = tmp_path / "other" / "corundum.ras"
    twin.parent.mkdir()
    shutil.copy(inputs[0], twin)
    inputs.append(twin)
    folder = tmp_path / "converted" / "xy"
    result = run("convert", *inputs, "-o", folder)
    assert (result.returncode, result.stdout) == (0, "")
    names = ["corundum.ras.xy", "corundum.brml.xy", "corundum.xy.xy", "corundum.ras-2.xy"]
    assert sorted(p.name for p in folder.iterdir()) == sorted(names)
    for source, name in zip(inputs, names):
        assert (folder / name).read_text(encoding="utf-8") == run("convert", source).stdout
    # One progress line, rewritten in place for each input.
    for n, source in enumerate(inputs, 1):
        assert f"\r[{n}/{len(inputs)}] {source}" in result.stderr
    assert result.stderr.endswith("\n") and result.stderr.count("\n") == 1


@pytest.mark.parametrize("make_folder, suffix", [(True, ""), (False, "/")])
def test_convert_one_file_into_a_folder(tmp_path, make_folder, suffix):
    folder = tmp_path / "out"
    if make_folder:
        folder.mkdir()
    result = run("convert", example("corundum.uxd"), "-o", str(folder) + suffix)
    assert result.returncode == 0, result.stderr
    assert [p.name for p in folder.iterdir()] == ["corundum.uxd.xy"]


def test_convert_to_csv(tmp_path):
    path = example("corundum.gsa")
    result = run("convert", path, "--format", "csv", "--index", "1")
    assert result.returncode == 0, result.stderr
    header, *rows = result.stdout.splitlines()
    assert header == "2theta,intensity"
    expected = difrax.read(str(path), index=1)
    assert [tuple(map(float, row.split(","))) for row in rows] == list(zip(expected.x, expected.y))
    folder = tmp_path / "csv"
    assert run("convert", path, example("corundum.xy"), "--format", "csv", "-o", folder).returncode == 0
    assert sorted(p.name for p in folder.iterdir()) == ["corundum.gsa.csv", "corundum.xy.csv"]


@pytest.mark.parametrize(
    "name, options",
    [
        ("corundum.ras", {"index": 1}),
        ("corundum-raw4.raw", {"index": 1}),
        ("corundum.cif", {"block": "detail"}),
        ("corundum.xrdml", {"index": 1}),
    ],
)
def test_convert_chooses_with_index_and_block(name, options):
    path = example(name)
    args = [a for key, value in options.items() for a in (f"--{key}", value)]
    result = run("convert", path, *args)
    assert result.returncode == 0, result.stderr
    expected = difrax.read(str(path), **options)
    back = difrax.read_bytes(result.stdout.encode(), "out.xy")
    assert (back.x, back.y) == (expected.x, expected.y)
    assert back.x != difrax.read(str(path)).x


@pytest.mark.parametrize(
    "name, args, options",
    [
        ("corundum.ras", ["--index", "2"], {"index": 2}),
        ("corundum.xy", ["--index", "1"], {"index": 1}),
        ("corundum.cif", ["--block", "publ"], {"block": "publ"}),
        ("corundum.cif", ["--block", "detail", "--index", "1"], {"block": "detail", "index": 1}),
    ],
)
def test_convert_reports_what_the_module_refuses(name, args, options, tmp_path):
    path = example(name)
    out = tmp_path / "out.xy"
    result = run("convert", path, *args, "-o", out)
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr == f"difrax: {path}: {load(path, **options)}\n"
    assert not out.exists()


def test_convert_goes_on_after_a_refused_file(tmp_path):
    good = example("corundum.chi")
    missing = tmp_path / "missing.chi"
    folder = tmp_path / "out"
    result = run("convert", missing, good, "-o", folder)
    assert result.returncode == 1
    with pytest.raises(OSError) as error:
        difrax.read(str(missing))
    assert f"difrax: {missing}: IO error: {error.value}\n" in result.stderr
    assert [p.name for p in folder.iterdir()] == ["corundum.chi.xy"]


# --- round trip ----------------------------------------------------------------------


def choices(path, name):
    """Every selection of a pattern in the file: each index, and for powder
    CIF each data block that holds a profile."""
    options = [{"index": i} for i in range(pattern_count(path)[1])]
    if name == "pdCIF":
        text = path.read_text(encoding="utf-8")
        options += [{"block": b} for b in re.findall(r"^data_(\S+)", text, re.MULTILINE)]
    return options


def round_trip(path, tmp_path):
    name, _ = pattern_count(path)
    checked = 0
    for options in choices(path, name):
        args = [a for key, value in options.items() for a in (f"--{key}", value)]
        expected = load(path, **options)
        for form in ("xy", "csv"):
            out = tmp_path / f"out.{form}"
            out.unlink(missing_ok=True)
            result = run("convert", path, *args, "--format", form, "-o", out)
            if isinstance(expected, str):
                assert (result.returncode, result.stderr) == (1, f"difrax: {path}: {expected}\n")
                continue
            assert (result.returncode, result.stderr) == (0, "")
            back = difrax.read(str(out))
            assert back.x == expected.x, (options, form)
            assert back.y == expected.y, (options, form)
            checked += 1
    assert checked > 0


@pytest.mark.parametrize("path", EXAMPLE_FILES, ids=lambda p: p.name)
def test_round_trip_of_examples(path, tmp_path):
    round_trip(path, tmp_path)


@pytest.mark.parametrize("name", sorted(BUILT))
def test_round_trip_of_built_files(name, built, tmp_path):
    round_trip(built(name), tmp_path)


def test_round_trip_keeps_extreme_values(tmp_path):
    x = [-1e300, -5e-324, 0.0, 1e-300, 0.1 + 0.2, 89.99999999999999, 1e300]
    y = [1.7976931348623157e308, -2.2250738585072014e-308, 1 / 3, -0.0, 123456789.123456789, 5e-324, -1e-7]
    source = tmp_path / "extreme.xy"
    source.write_text("".join(f"{a!r} {b!r}\n" for a, b in zip(x, y)), encoding="utf-8")
    round_trip(source, tmp_path)


def test_round_trip_of_a_name_with_a_line_break(tmp_path):
    source = tmp_path / "scan\n5 7"
    source.write_text("10 1\n11 2\n", encoding="utf-8")
    round_trip(source, tmp_path)
