"""End-to-end loads of XY column text through read and read_bytes."""

import math
from concurrent.futures import ThreadPoolExecutor
from threading import Barrier

import pytest

import difrax
from conftest import corpus_files


def load_both(write_file, content, name="scan.xy", **options):
    """Loads the content from a file and from memory; both must agree."""
    data = content.encode() if isinstance(content, str) else content
    from_file = difrax.read(write_file(name, data), **options)
    from_bytes = difrax.read_bytes(data, name, **options)
    assert (from_file.x, from_file.y) == (from_bytes.x, from_bytes.y)
    return from_file


@pytest.mark.parametrize(
    "content, x, y",
    [
        ("10.0 100\n10.5 120\n", [10.0, 10.5], [100.0, 120.0]),
        ("Title\n2theta intensity\n10.0 100\n10.5 120\n", [10.0, 10.5], [100.0, 120.0]),
        ("# comment 1 2\n// 3 4\n10.0 100\nheading\n10.5 120", [10.0, 10.5], [100.0, 120.0]),
        ("10.0,100\n10.5,\t120\r\n", [10.0, 10.5], [100.0, 120.0]),
        ("10.0 100 5.3\n10.0;100\n10.5\n11.0 1.0D2\n11.5 7\n", [10.0, 11.5], [100.0, 7.0]),
        ("12.0 3\n11.0 2\n10.0 1\n", [10.0, 11.0, 12.0], [1.0, 2.0, 3.0]),
        ("\ufeff10 1\n\ufeff11 2\n", [10.0, 11.0], [1.0, 2.0]),
        ("5 -1.5e2\n", [5.0], [-150.0]),
    ],
)
def test_xy_rows(write_file, content, x, y):
    pattern = load_both(write_file, content)
    assert (pattern.x, pattern.y) == (x, y)


@pytest.mark.parametrize("encoding", ["utf-16", "utf-16-le", "utf-16-be", "utf-8-sig"])
def test_byte_order_marks(write_file, encoding):
    text = "2theta counts\n20.0 5\n20.5 6\n"
    data = text.encode(encoding)
    if encoding.startswith("utf-16-"):
        data = "\ufeff".encode(encoding) + data
    pattern = load_both(write_file, data)
    assert (pattern.x, pattern.y) == ([20.0, 20.5], [5.0, 6.0])


@pytest.mark.parametrize(
    "content, message",
    [
        ("", "ASCII: no complete x/y pattern found"),
        ("# only\n; comments\n", "ASCII: no complete x/y pattern found"),
        ("10 1\n11 inf\n", "ASCII pattern contains a non-finite value"),
        ("10 1\n10 2\n", "x values must be finite and strictly increasing"),
        ("10 1\n12 2\n11 3\n", "x values must be finite and strictly increasing"),
        ("12 1\n11 1e999\n", "ASCII pattern contains a non-finite value"),
        ("1 1\n" * 20000 + "\x00\n", "Binary data supplied to an ASCII pattern reader"),
    ],
)
def test_xy_errors(write_file, content, message):
    data = content.encode()
    for load in (lambda: difrax.read(write_file("bad.xy", data)), lambda: difrax.read_bytes(data, "bad.xy")):
        with pytest.raises(ValueError) as info:
            load()
        assert str(info.value) == f"Parse error: {message}"


@pytest.mark.parametrize("call", ["read", "read_bytes"])
def test_index_must_be_zero(write_file, call):
    path = write_file("one.xy", "10 1\n11 2\n")
    with pytest.raises(ValueError) as info:
        if call == "read":
            difrax.read(path, index=1)
        else:
            difrax.read_bytes(b"10 1\n11 2\n", "one.xy", index=1)
    assert str(info.value) == "Parse error: this format has one pattern; index must be 0"


def test_empty_filename_hint_and_block_ignored():
    pattern = difrax.read_bytes(b"1 2\n3 4\n", "", block="anything")
    assert (pattern.x, pattern.y) == ([1.0, 3.0], [2.0, 4.0])


def test_concurrent_loads_agree():
    data = "".join(f"{10 + i * 0.01:.2f} {i * 7 % 101}\n" for i in range(5000)).encode()
    barrier = Barrier(8)

    def load(_):
        barrier.wait()
        results = [difrax.read_bytes(data, "many.xy") for _ in range(20)]
        return [(p.x, p.y) for p in results]

    with ThreadPoolExecutor(max_workers=8) as pool:
        outcomes = list(pool.map(load, range(8)))
    expected = outcomes[0][0]
    assert len(expected[0]) == 5000
    assert all(result == expected for outcome in outcomes for result in outcome)


def expected_points(text):
    """An independent reading of plain column text: first two numeric fields."""
    x, y = [], []
    for line in text.splitlines():
        fields = line.replace(",", " ").split()
        if len(fields) < 2 or fields[0][0] in ";!#'/":
            continue
        try:
            a, b = float(fields[0]), float(fields[1])
        except ValueError:
            continue
        x.append(a)
        y.append(b)
    if len(x) > 1 and all(p > q for p, q in zip(x, x[1:])):
        x.reverse()
        y.reverse()
    return x, y


@pytest.mark.parametrize("path", corpus_files("xy", "*.xy") or [None], ids=lambda p: getattr(p, "name", "absent"))
def test_corpus_xy(path):
    if path is None:
        pytest.skip("corpus of real XY files not present")
    pattern = difrax.read(str(path))
    x, y = expected_points(path.read_text(encoding="utf-8-sig", errors="replace"))
    assert (pattern.x, pattern.y) == (x, y)
    assert all(math.isfinite(v) for v in pattern.y)
    assert all(p < q for p, q in zip(pattern.x, pattern.x[1:]))
    from_bytes = difrax.read_bytes(path.read_bytes(), path.name)
    assert (from_bytes.x, from_bytes.y) == (pattern.x, pattern.y)
