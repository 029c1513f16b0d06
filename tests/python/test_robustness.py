"""Robustness of the module: loads from many threads at once, hostile inputs,
and resident memory over many calls on good and bad inputs.

Every input is generated here; nothing is read from outside the repository.
"""

import os
import random
import struct
import sys
import sysconfig
import threading
import zipfile
import zlib
from concurrent.futures import ThreadPoolExecutor
from io import BytesIO

import pytest

import difrax

# ---------------------------------------------------------------------------
# Generators, one per format


def xy(n, start=10.0, step=0.02):
    return "".join(f"{start + step * i:.4f} {100 + (i * 37) % 91}\n" for i in range(n)).encode()


def chi(n):
    rows = "".join(f"  {10 + 0.02 * i:.6e}  {float(1 + i % 50):.6e}\n" for i in range(n))
    return f"profile\n2-Theta Angle (Degrees)\nIntensity\n{n:8d}\n{rows}".encode()


def ras(n, scans=2):
    out = ["*RAS_DATA_START"]
    for s in range(scans):
        out += ["*RAS_HEADER_START", '*MEAS_SCAN_AXIS_X "TwoThetaOmega"', f'*MEAS_DATA_COUNT "{n}"',
                "*RAS_HEADER_END", "*RAS_INT_START"]
        out += [f"{10 + s + 0.01 * i:.4f} {i % 70 + s} 1.0000" for i in range(n)]
        out += ["*RAS_INT_END"]
    out.append("*RAS_DATA_END")
    return ("\r\n".join(out) + "\r\n").encode()


def uxd(n):
    counts = " ".join(str(5 + i % 40) for i in range(n))
    pairs = "".join(f"{30 + 0.05 * i:.3f} {i % 17}\n" for i in range(n))
    return (f"; UXD\n_DRIVE='COUPLED'\n_START=10.0\n_STEPSIZE=0.02\n_COUNTS\n{counts}\n"
            f"_2THETACOUNTS\n{pairs}").encode()


def gsas(n, record="STD"):
    if record == "FXYE":
        rows = "".join(f"{1000 + 2 * i:.2f} {i % 30 + 1} 1.0\n" for i in range(n))
    elif record == "ESD":
        values = [f"{float(i % 30 + 1):8.1f}{1.0:8.1f}" for i in range(n)]
        rows = "".join("".join(values[k:k + 5]) + "\n" for k in range(0, n, 5))
    else:
        values = [f"{i % 30 + 1:8d}" for i in range(n)]
        rows = "".join("".join(values[k:k + 10]) + "\n" for k in range(0, n, 10))
    return f"generated\nBANK 1 {n} {n} CONS 1000 2 0 0 {record}\n{rows}".encode()


def pdcif(n):
    rows = "".join(f"{10 + 0.02 * i:.4f} {i % 40 + 1}({i % 5 + 1})\n" for i in range(n))
    return ("data_generated\n_pd_block_id gen\n_pd_note\n;\nnote\n;\nloop_\n_pd_meas_2theta_scan\n"
            f"_pd_meas_counts_total\n{rows}").encode()


def raw3(n, points=None, ranges=None):
    header = bytearray(712)
    header[0:7] = b"RAW1.01"
    struct.pack_into("<I", header, 12, 1 if ranges is None else ranges)
    rng = bytearray(304)
    struct.pack_into("<II", rng, 0, 304, n if points is None else points)
    struct.pack_into("<d", rng, 16, 10.0)
    struct.pack_into("<d", rng, 176, 0.02)
    struct.pack_into("<III", rng, 248, 0, 4, 0)
    data = struct.pack(f"<{n}f", *[float(i % 60 + 1) for i in range(n)])
    return bytes(header + rng) + data


def raw4(n, points=None):
    out = bytearray(61)
    out[0:7] = b"RAW4.00"
    drive = bytearray(64)
    struct.pack_into("<III", drive, 0, 50, 64, 1)
    drive[12:18] = b"2Theta"
    struct.pack_into("<d", drive, 56, 20.0)
    rng = bytearray(160)
    rng[32:46] = b"Locked Coupled"
    struct.pack_into("<dd", rng, 72, 20.0, 0.01)
    struct.pack_into("<I", rng, 88, n if points is None else points)
    struct.pack_into("<II", rng, 136, 4, len(drive))
    data = struct.pack(f"<{n}f", *[float(i % 80) for i in range(n)])
    return bytes(out + rng + drive) + data


def xrdml(n):
    counts = " ".join(str(i % 90 + 1) for i in range(n))
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5">'
        '<xrdMeasurement measurementType="Scan"><scan scanAxis="Gonio"><dataPoints>'
        '<positions axis="2Theta" unit="deg"><startPosition>10</startPosition>'
        f'<endPosition>{10 + 0.02 * (n - 1):.2f}</endPosition></positions>'
        f'<counts unit="counts">{counts}</counts></dataPoints></scan></xrdMeasurement>'
        "</xrdMeasurements>").encode()


def zip_of(members, compression=zipfile.ZIP_DEFLATED):
    buffer = BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as z:
        for name, content in members:
            z.writestr(name, content)
    return buffer.getvalue()


def brml(n):
    container = ("<DataContainer><RawDataReferenceList><string>Experiment0/RawData0.xml</string>"
                 "</RawDataReferenceList></DataContainer>")
    datums = "".join(f"<Datum>{10 + 0.02 * i:.4f},{5 + 0.01 * i:.4f},{i % 70 + 1}</Datum>" for i in range(n))
    raw_data = (
        '<RawData xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><DataRoutes>'
        '<DataRoute RouteFlag="Measured"><DataViews>'
        '<RawDataView xsi:type="VaryingRawDataView" Start="0" Length="2"><Recording>'
        '<FieldDefinitions AxisId="TwoTheta"/><FieldDefinitions AxisId="Theta"/></Recording></RawDataView>'
        '<RawDataView xsi:type="RecordedRawDataView" Start="2" Length="1"/>'
        f"</DataViews>{datums}</DataRoute></DataRoutes></RawData>")
    return zip_of([("Experiment0/DataContainer.xml", container), ("Experiment0/RawData0.xml", raw_data)])


def rasx(n):
    root = ('<RootElement><Data0><ContentHashList Name="Profile0.txt"/>'
            '<ContentHashList Name="MesurementConditions0.xml"/></Data0></RootElement>')
    conditions = "<Conditions><ScanInformation><AxisName>TwoThetaTheta</AxisName></ScanInformation></Conditions>"
    profile = "".join(f"{10 + 0.01 * i:.4f}\t{i % 55}\t1\r\n" for i in range(n))
    return zip_of([("root.xml", root), ("Data0/MesurementConditions0.xml", conditions),
                   ("Data0/Profile0.txt", profile)])


# (format, file name, good input maker, a failing input) for every format.
FORMATS = [
    ("xy", "scan.xy", xy, b"10 1\n12 2\n11 3\n"),
    ("chi", "scan.chi", chi, chi(5).replace(b"       5", b"       6")),
    ("ras", "scan.ras", ras, ras(5).replace(b"*RAS_INT_END", b"*RAS_INT_START", 1)),
    ("uxd", "scan.uxd", uxd, b"_DRIVE=THETA\n_2THETACOUNTS\n10 1\n11 2\n"),
    ("gsas", "scan.gsa", gsas, gsas(20).replace(b"BANK 1 20", b"BANK 1 21")),
    ("pdcif", "scan.cif", pdcif, pdcif(5) + b"_pd_x 'open\n"),
    ("raw3", "scan.raw", raw3, raw3(5, points=6)),
    ("raw4", "scan.raw", raw4, raw4(5)[:-1]),
    ("xrdml", "scan.xrdml", xrdml, xrdml(5).replace(b"</counts>", b" x</counts>")),
    ("brml", "scan.brml", brml, brml(5)[:-30]),
    ("rasx", "scan.rasx", rasx, zip_of([("root.xml", "<RootElement/>")])),
]


def outcome(call):
    """A comparable summary of one load: the points, or the exception."""
    try:
        p = call()
    except (ValueError, OSError) as e:
        return (type(e).__name__, str(e))
    return (list(p.x), list(p.y))


def load_bytes(data, name, index=0):
    return outcome(lambda: difrax.read_bytes(data, name, index=index))


# ---------------------------------------------------------------------------
# Threads


def test_module_declares_it_needs_no_gil():
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("this interpreter has a GIL")
    assert not sys._is_gil_enabled()


@pytest.fixture(scope="module")
def mixed_inputs(tmp_path_factory):
    """Good and failing inputs of every format, some of them as files."""
    folder = tmp_path_factory.mktemp("mixed")
    rng = random.Random(1234)
    items = []
    for fmt, name, make, bad in FORMATS:
        for n in (1, 7, 300, 2000):
            items.append(("bytes", make(n), name, 0))
        items.append(("bytes", bad, name, 0))
        items.append(("bytes", make(50), name, 1))
        path = folder / f"{fmt}-{len(items)}{os.path.splitext(name)[1]}"
        path.write_bytes(make(rng.randint(10, 500)))
        items.append(("path", str(path), None, 0))
    items.append(("bytes", ras(40, scans=3), "scan.ras", 2))
    items.append(("path", str(folder / "missing.xy"), None, 0))
    return items


def run_item(item):
    kind, data, name, index = item
    if kind == "path":
        return outcome(lambda: difrax.read(data, index=index))
    return load_bytes(data, name, index)


def test_eight_threads_give_the_single_threaded_results(mixed_inputs):
    expected = [run_item(item) for item in mixed_inputs]
    assert any(isinstance(e[0], list) for e in expected)
    assert any(isinstance(e[0], str) for e in expected)

    start = threading.Barrier(8)
    results = [None] * 8

    def worker(seed):
        order = list(range(len(mixed_inputs))) * 3
        random.Random(seed).shuffle(order)
        start.wait()
        results[seed] = [(k, run_item(mixed_inputs[k])) for k in order]

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for per_thread in results:
        assert per_thread is not None
        for k, got in per_thread:
            assert got == expected[k], mixed_inputs[k][:3:2]


def test_thread_pool_map_matches_serial(mixed_inputs):
    expected = [run_item(item) for item in mixed_inputs]
    with ThreadPoolExecutor(max_workers=8) as pool:
        for _ in range(3):
            assert list(pool.map(run_item, mixed_inputs)) == expected


# ---------------------------------------------------------------------------
# Hostile inputs through the module


def deflated_zeros(count):
    """A raw deflate stream of `count` zero bytes (a multiple of 1 MiB), made
    from one compressed block repeated: each full flush forgets the history."""
    block = bytes(1 << 20)
    piece = zlib.compressobj(9, zlib.DEFLATED, -15)
    repeated = piece.compress(block) + piece.flush(zlib.Z_FULL_FLUSH)
    end = zlib.compressobj(9, zlib.DEFLATED, -15).flush(zlib.Z_FINISH)
    crc = 0
    for _ in range(count >> 20):
        crc = zlib.crc32(block, crc)
    return repeated * (count >> 20) + end, crc


def zip_with_precompressed(stored, name, compressed, crc, size, declared_size=None):
    """A ZIP file with stored members and one deflated member given as its
    compressed bytes; the directory declares `declared_size` if given."""
    out, directory = bytearray(), bytearray()
    members = [(n, c.encode(), 0, zlib.crc32(c.encode()), len(c)) for n, c in stored]
    members.append((name, compressed, 8, crc, size if declared_size is None else declared_size))
    for member_name, data, method, member_crc, member_size in members:
        encoded = member_name.encode()
        common = struct.pack("<HHHHHIIIHH", 20, 0, method, 0, 33, member_crc, len(data), member_size,
                             len(encoded), 0)
        directory += struct.pack("<IH", 0x02014B50, 20) + common + struct.pack("<HHHII", 0, 0, 0, 0, len(out))
        directory += encoded
        out += struct.pack("<I", 0x04034B50) + common + encoded + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(directory), len(out), 0)
    return bytes(out + directory + end)


def rasx_bomb(declared_size=None):
    data, crc = deflated_zeros(257 << 20)
    root = '<RootElement><Data0><ContentHashList Name="Profile0.txt"/></Data0></RootElement>'
    return zip_with_precompressed([("root.xml", root)], "Data0/Profile0.txt", data, crc, 257 << 20, declared_size)


def rasx_declaring(declared_size):
    """A RASX file whose three-point profile's directory entry declares
    `declared_size` bytes."""
    profile = b"10 1\n10.1 2\n10.2 3\n"
    piece = zlib.compressobj(9, zlib.DEFLATED, -15)
    data = piece.compress(profile) + piece.flush()
    root = '<RootElement><Data0><ContentHashList Name="Profile0.txt"/></Data0></RootElement>'
    return zip_with_precompressed([("root.xml", root)], "Data0/Profile0.txt", data, zlib.crc32(profile),
                                  len(profile), declared_size)


@pytest.mark.parametrize("declared", [2**32 - 2, 10**9, 1, 0])
def test_zip_directory_sizes_are_not_trusted(declared):
    p = difrax.read_bytes(rasx_declaring(declared), "scan.rasx")
    assert (list(p.x), list(p.y)) == ([10.0, 10.1, 10.2], [1.0, 2.0, 3.0])


def utf16le(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


HOSTILE = [
    ("zip_bomb", lambda: rasx_bomb(), "scan.rasx", "Parse error: archive pattern member exceeds 256 MiB"),
    ("zip_bomb_declared_small", lambda: rasx_bomb(100), "scan.rasx",
     "Parse error: archive pattern member exceeds 256 MiB"),
    ("xml_nested", lambda: b"<xrdMeasurements>" + b"<a>" * 10**6, "scan.xrdml",
     "Parse error: XML nesting exceeds 128 elements"),
    ("xml_doctype", lambda: b'<!DOCTYPE r [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]>'
     b"<xrdMeasurements>&b;</xrdMeasurements>", "scan.xrdml",
     "Parse error: XML document type declarations are not supported"),
    ("raw3_points", lambda: raw3(3, points=2**32 - 1), "scan.raw",
     "Parse error: Bruker RAW: truncated record at offset 1016: needs 17179869180 bytes, file has 1028"),
    ("raw3_ranges", lambda: raw3(3, ranges=2**32 - 1), "scan.raw",
     "Parse error: Bruker RAW: invalid RAW3 range count 4294967295"),
    ("raw4_points", lambda: raw4(3, points=2**32 - 1), "scan.raw",
     "Parse error: Bruker RAW: truncated record at offset 285: needs 17179869180 bytes, file has 297"),
    ("gsas_channels", lambda: gsas(3).replace(b"BANK 1 3", b"BANK 1 1000000000000000"), "scan.gsa",
     "Parse error: GSAS STD: data is shorter than the declared 1000000000000000 channels"),
    ("chi_count", lambda: chi(3).replace(b"       3", b"18446744073709551615"), "scan.chi",
     "Parse error: CHI: header declares 18446744073709551615 points but 3 were read"),
    ("ras_count", lambda: ras(3, scans=1).replace(b'"3"', b'"18446744073709551615"'), "scan.ras",
     "Parse error: RAS: declared point count disagrees with intensity block"),
    ("cif_open_text_field", lambda: b"data_p\n_pd_x 1\n_note\n;" + b"never closed\n" * 10**6, "scan.cif",
     "Parse error: pdCIF: unterminated semicolon text field"),
    ("utf16_odd_length", lambda: utf16le("10 1\n11 2\n") + b"1", "scan.xy", "Parse error: truncated UTF-16 text"),
    ("utf16_lone_surrogate_at_end", lambda: utf16le("10 1\n11 2\n") + b"\x00\xd8", "scan.xy",
     "Parse error: invalid UTF-16 text"),
]


@pytest.mark.parametrize("make, name, message", [h[1:] for h in HOSTILE], ids=[h[0] for h in HOSTILE])
def test_hostile_input_fails_with_its_error(make, name, message):
    with pytest.raises(ValueError) as info:
        difrax.read_bytes(make(), name)
    assert str(info.value) == message


# ---------------------------------------------------------------------------
# Resident memory over many calls


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


LEAK_CALLS = int(os.environ.get("DIFRAX_LEAK_CALLS", "10000"))
sanitized = "asan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.skipif(sanitized, reason="the sanitizer's quarantine holds freed memory")
@pytest.mark.parametrize("fmt, name, make, bad", FORMATS, ids=[f[0] for f in FORMATS])
def test_many_calls_leave_resident_memory_flat(tmp_path, fmt, name, make, bad):
    good = make(40)
    good_path = tmp_path / ("good" + os.path.splitext(name)[1])
    bad_path = tmp_path / ("bad" + os.path.splitext(name)[1])
    good_path.write_bytes(good)
    bad_path.write_bytes(bad)
    assert isinstance(load_bytes(good, name)[0], list)
    assert isinstance(load_bytes(bad, name)[0], str)

    def calls(count):
        for _ in range(count):
            difrax.read_bytes(good, name)
            difrax.read(str(good_path))
            for call in (lambda: difrax.read_bytes(bad, name), lambda: difrax.read(str(bad_path))):
                try:
                    call()
                except ValueError:
                    pass

    calls(max(LEAK_CALLS // 10, 100))  # warm up: allocator pools, caches of the interpreter
    before = resident_bytes()
    calls(LEAK_CALLS)
    growth = resident_bytes() - before
    print(f"{fmt}: {4 * LEAK_CALLS} calls, resident growth {growth / 1024:.0f} KiB")
    assert growth < 4 << 20
