"""Robustness of the module: loads from many threads at once, and resident
memory over many calls on good and refused inputs. Hostile inputs, their
memory bounds and ZIP directories that misstate member sizes are pinned by the
C++ tests; here every input is generated, mostly with the builders."""

import os
import random
import subprocess
import sys
import sysconfig
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

import builders as b
from builders import load


def points(n):
    """n ascending (2theta, counts) points."""
    return [(10.0 + 0.02 * i, i % 90 + 1) for i in range(n)]


def rows(n, tail="", scale=1):
    return "".join(f"{x * scale:.4f} {y}{tail}\n" for x, y in points(n))


def counts(n):
    return [y for _, y in points(n)]


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
    "raw3": ("scan.raw", lambda n: b.raw3((10.0, 0.02, 0, counts(n))), cut),
    "raw4": ("scan.raw", lambda n: b.raw4(("Locked Coupled", 10.0, 0.02, counts(n))), cut),
    "xrdml": ("scan.xrdml", lambda n: b.xrdml([("Gonio", 10.0, 10.0 + 0.02 * (n - 1), " ".join(map(str, counts(n))))]),
              cut),
    "brml": ("scan.brml", lambda n: b.brml(points(n)), cut),
    # Renaming the member in the ZIP headers leaves the profile that root.xml lists missing.
    "rasx": ("scan.rasx", lambda n: b.rasx(rows(n)), lambda data: data.replace(b"Profile0", b"Profile1")),
}


def inputs(fmt, folder, n=40):
    """A good file of n points and a spoiled one, from memory and from a file, as arguments of load."""
    name, make, spoil = FORMATS[fmt]
    data = make(n)
    data = data.encode() if isinstance(data, str) else data
    calls = [(data, name), (spoil(data), name)]
    for i, (content, _) in enumerate(list(calls)):
        (folder / f"{fmt}-{i}-{name}").write_bytes(content)
        calls.append((str(folder / f"{fmt}-{i}-{name}"), None))
    return calls


def test_module_declares_it_needs_no_gil():
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("this interpreter has a GIL")
    assert not sys._is_gil_enabled()


def test_threads_give_the_single_threaded_results(tmp_path):
    # Good and refused inputs of every format, from memory and from files, with their single-threaded outcomes.
    calls = [(data, name, i) for name, data in b.BUILT.items() for i in range(4)]
    calls += [call for fmt in FORMATS for call in inputs(fmt, tmp_path, 2000)] + [(str(tmp_path / "missing.xy"),)]
    expected = tuple(load(*call) for call in calls)
    assert {type(outcome[0]) for outcome in expected} == {list, type}
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


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


LEAK_CALLS = int(os.environ.get("DIFRAX_LEAK_CALLS", "10000"))


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer's quarantine holds freed memory")
@pytest.mark.parametrize("fmt", FORMATS)
def test_many_calls_leave_resident_memory_flat(tmp_path, fmt):
    calls = inputs(fmt, tmp_path)
    assert [type(load(*call)[0]) for call in calls] == [list, type, list, type]

    def repeat(count):
        for _ in range(count):
            for call in calls:
                load(*call)

    repeat(max(LEAK_CALLS // 10, 100))  # warm up: allocator pools, caches of the interpreter
    before = resident_bytes()
    repeat(LEAK_CALLS)
    growth = resident_bytes() - before
    print(f"{fmt}: {4 * LEAK_CALLS} calls, resident growth {growth / 1024:.0f} KiB")
    assert growth < 4 << 20


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer needs more address space")
@pytest.mark.parametrize(
    "data, name",
    [('b"10 1\\n" * 4_000_000', "a.xy"),  # the result arrays
     ('b"<xrdMeasurements>" + b"<a/>" * 2_000_000', "a.xrdml")],  # the element tree, built in expat's callbacks
)
def test_memory_the_system_refuses_is_a_memory_error(data, name):
    """A load that does not fit the address space raises MemoryError and leaves the interpreter running."""
    script = f"""if True:
        import re, resource, difrax
        data = {data}
        size = int(re.search(r"VmSize:\\s+(\\d+)", open("/proc/self/status").read())[1]) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + (40 << 20), resource.getrlimit(resource.RLIMIT_AS)[1]))
        try:
            difrax.read_bytes(data, "{name}")
        except MemoryError:
            print("MemoryError", len(difrax.read_bytes(b"10 1\\n11 2\\n", "a.xy").x))
    """
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout) == (0, "MemoryError 2\n"), result.stderr
