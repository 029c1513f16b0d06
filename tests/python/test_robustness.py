"""Robustness of the module: loads from many threads at once, ZIP directories
that misstate member sizes, and resident memory over many calls on good and
refused inputs. Hostile inputs and their memory bounds are pinned by the C++
tests; here every input is generated, mostly with the builders."""

import io
import os
import random
import struct
import sys
import sysconfig
import threading
import zipfile
from concurrent.futures import ThreadPoolExecutor

import pytest

import builders as b
import difrax


def points(n):
    """n ascending (2theta, counts) points."""
    return [(10.0 + 0.02 * i, i % 90 + 1) for i in range(n)]


def rows(n, tail="", scale=1):
    return "".join(f"{x * scale:.4f} {y}{tail}\n" for x, y in points(n))


def cut(data):  # cut short inside the last record
    return data[:-5]


# Per format: a file name, a maker of a good file of n points, and how to spoil
# one so that it is refused.
FORMATS = {
    # A cut XY row reads as a one-column line, which is skipped; a step back to 10 degrees is refused.
    "xy": ("scan.xy", rows, lambda data: data + b"10 1\n"),
    "chi": ("scan.chi", lambda n: f"profile\n2-Theta Angle (Degrees)\nIntensity\n{n:8d}\n{rows(n)}", cut),
    "ras": ("scan.ras", lambda n: f'*RAS_HEADER_START\n*MEAS_SCAN_AXIS_X "TwoThetaOmega"\n*MEAS_DATA_COUNT "{n}"\n'
            f'*RAS_INT_START\n{rows(n, " 1")}*RAS_INT_END\n', cut),
    "uxd": ("scan.uxd", lambda n: "_DRIVE='COUPLED'\n_2THETACOUNTS\n" + rows(n), cut),
    "gsas": ("scan.gsa", lambda n: f"made\nBANK 1 {n} {n} CONS 1000 2 0 0 FXYE\n{rows(n, ' 1', 100)}", cut),
    "pdcif": ("scan.cif", lambda n: "data_made\nloop_\n_pd_meas_2theta_scan\n_pd_meas_counts_total\n" + rows(n), cut),
    "raw3": ("scan.raw", lambda n: b.raw3((10.0, 0.02, 0, [y for _, y in points(n)])), cut),
    "raw4": ("scan.raw", lambda n: b.raw4(("Locked Coupled", "2Theta", 10.0, 0.02, [y for _, y in points(n)])), cut),
    "xrdml": ("scan.xrdml", lambda n: b.xrdml([b.xrdml_scan("Gonio", 10.0, 10.0 + 0.02 * (n - 1),
                                                            " ".join(str(y) for _, y in points(n)))]), cut),
    "brml": ("scan.brml", lambda n: b.brml(points(n)), cut),
    # Renaming the member in the ZIP headers leaves the profile that root.xml lists missing.
    "rasx": ("scan.rasx", lambda n: b.rasx(rows(n)), lambda data: data.replace(b"Profile0", b"Profile1")),
}


def good(fmt, n):
    data = FORMATS[fmt][1](n)
    return data.encode() if isinstance(data, str) else data


def bad(fmt):
    return FORMATS[fmt][2](good(fmt, 40))


def load(data, name=None, index=0):
    """The loaded (x, y), or the type and text of the error; a path without a name."""
    try:
        p = difrax.read(data, index=index) if name is None else difrax.read_bytes(data, name, index=index)
    except (ValueError, OSError) as e:
        return type(e).__name__, str(e)
    return list(p.x), list(p.y)


def test_module_declares_it_needs_no_gil():
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("this interpreter has a GIL")
    assert not sys._is_gil_enabled()


@pytest.fixture(scope="module")
def mixed(tmp_path_factory):
    """Loads of good and refused inputs of every format, from memory and from
    files, each with its single-threaded outcome."""
    folder = tmp_path_factory.mktemp("mixed")
    calls = [(data, name, i) for name, data in b.BUILT.items() for i in range(4)]
    for fmt, (name, _, _) in FORMATS.items():
        calls += [(good(fmt, n), name, 0) for n in (1, 7, 300, 2000)] + [(bad(fmt), name, 0), (good(fmt, 50), name, 1)]
        path = folder / (fmt + os.path.splitext(name)[1])
        path.write_bytes(good(fmt, 500))
        calls.append((str(path), None, 0))
    calls.append((str(folder / "missing.xy"), None, 0))
    return [(call, load(*call)) for call in calls]


def test_threads_give_the_single_threaded_results(mixed):
    calls, expected = zip(*mixed)
    assert {type(outcome[0]) for outcome in expected} == {list, str}
    start = threading.Barrier(8)

    def shuffled(seed):  # every call three times, in an order of its own, from when all eight are ready
        order = list(range(len(calls))) * 3
        random.Random(seed).shuffle(order)
        start.wait()
        return [(k, load(*calls[k])) for k in order]

    with ThreadPoolExecutor(max_workers=8) as pool:
        for per_thread in pool.map(shuffled, range(8)):
            for k, got in per_thread:
                assert got == expected[k], calls[k][1:]
        for _ in range(3):
            assert tuple(pool.map(lambda call: load(*call), calls)) == expected


@pytest.mark.parametrize("declared", [2**32 - 2, 10**9, 1, 0])
def test_zip_directory_sizes_are_not_trusted(declared):
    data = b.rasx("10 1\n10.1 2\n10.2 3\n")
    member = zipfile.ZipFile(io.BytesIO(data)).getinfo("Data0/Profile0.txt")
    sizes = struct.pack("<III", member.CRC, member.compress_size, member.file_size)
    assert data.count(sizes) == 2  # the local header and the central directory
    data = data.replace(sizes, struct.pack("<III", member.CRC, member.compress_size, declared))
    assert load(data, "scan.rasx") == ([10.0, 10.1, 10.2], [1.0, 2.0, 3.0])


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


LEAK_CALLS = int(os.environ.get("DIFRAX_LEAK_CALLS", "10000"))


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer's quarantine holds freed memory")
@pytest.mark.parametrize("fmt", FORMATS)
def test_many_calls_leave_resident_memory_flat(tmp_path, fmt):
    name = FORMATS[fmt][0]
    inputs = [(good(fmt, 40), name), (bad(fmt), name)]
    for i, (data, _) in enumerate(list(inputs)):
        (tmp_path / f"{i}-{name}").write_bytes(data)
        inputs.append((str(tmp_path / f"{i}-{name}"), None))
    assert [type(load(*call)[0]) for call in inputs] == [list, str, list, str]

    def calls(count):
        for _ in range(count):
            for call in inputs:
                load(*call)

    calls(max(LEAK_CALLS // 10, 100))  # warm up: allocator pools, caches of the interpreter
    before = resident_bytes()
    calls(LEAK_CALLS)
    growth = resident_bytes() - before
    print(f"{fmt}: {4 * LEAK_CALLS} calls, resident growth {growth / 1024:.0f} KiB")
    assert growth < 4 << 20
