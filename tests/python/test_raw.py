"""End-to-end loads of Bruker RAW3 and RAW4 bytes through read_bytes."""

import struct

import pytest

import difrax
from conftest import corpus_files


def raw3(*ranges):
    """A RAW3 file; each range is (start, step, scan type, intensities)."""
    out = bytearray(b"RAW1.01".ljust(712, b"\x5a"))
    struct.pack_into("<I", out, 12, len(ranges))
    for start, step, scan_type, ys in ranges:
        header = bytearray(304)
        struct.pack_into("<II", header, 0, 304, len(ys))
        struct.pack_into("<d", header, 16, start)
        struct.pack_into("<d", header, 176, step)
        struct.pack_into("<I", header, 196, scan_type)
        struct.pack_into("<III", header, 248, 0, 4, 0)
        out += header + struct.pack(f"<{len(ys)}f", *ys)
    return bytes(out)


def raw4(*ranges):
    """A RAW4 file; each range is (scan type name, drive name or None, start, step, intensities)."""
    out = bytearray(b"RAW4.00".ljust(61, b"\x5a"))
    out += struct.pack("<II", 30, 12) + b"\xff" * 4  # a generic segment
    for scan_type, drive, start, step, ys in ranges:
        drives = b""
        if drive is not None:
            drives = bytearray(64)
            struct.pack_into("<III24s", drives, 0, 50, 64, 1, drive.encode("latin-1"))
            struct.pack_into("<d", drives, 56, start)
        header = bytearray(160)
        header[32:56] = scan_type.encode("latin-1").ljust(24, b"\0")
        struct.pack_into("<ddI", header, 72, start, step, len(ys))
        struct.pack_into("<II", header, 136, 4, len(drives))
        out += header + drives + struct.pack(f"<{len(ys)}f", *ys)
    return bytes(out)


def test_raw3_ranges_by_index():
    data = raw3((10.0, 0.5, 0, [1, 2, 3]), (40.0, -0.25, 3, [4, 5]), (20.0, 0.125, 20, [6, 7]))
    first = difrax.read_bytes(data, "scan.raw")
    assert (first.x, first.y) == ([10.0, 10.5, 11.0], [1.0, 2.0, 3.0])
    third = difrax.read_bytes(data, "anything.bin", index=2)
    assert (third.x, third.y) == ([20.0, 20.125], [6.0, 7.0])
    with pytest.raises(ValueError, match=r"^Parse error: Bruker RAW: RAW3 scan type 3 does not establish"):
        difrax.read_bytes(data, "scan.raw", index=1)
    with pytest.raises(ValueError) as refused:
        difrax.read_bytes(data, "scan.raw", index=3)
    assert str(refused.value) == "Parse error: Bruker RAW: scan 3 is out of range; file has 3 scans"


def test_raw4_drive_decides_and_other_range_loads():
    data = raw4(("Rocking Curve", None, 1.0, 0.1, [9]), ("Rocking Curve", " 2-Theta ", 30.0, -0.5, [1, 2, 3]))
    pattern = difrax.read_bytes(data, "scan.raw", index=1)
    assert (pattern.x, pattern.y) == ([29.0, 29.5, 30.0], [3.0, 2.0, 1.0])
    with pytest.raises(ValueError) as refused:
        difrax.read_bytes(data, "scan.raw")
    assert str(refused.value) == (
        'Parse error: Bruker RAW: scan type "Rocking Curve" does not establish a 2theta axis; '
        "export a coupled 2theta scan"
    )


@pytest.mark.parametrize(
    "data, message",
    [
        (b"RAW2" + bytes(100), "versions 1 and 2 are unsupported; export RAW3, RAW4, UXD, or XY"),
        (raw3((10.0, 0.5, 0, [1, 2]))[:-1], "truncated record at offset 1016: needs 8 bytes, file has 1023"),
        (raw3((10.0, 0.5, 0, [1, float("nan")])), "nonfinite angle or intensity in point 1"),
        (raw4(("Locked Coupled", "Omega", 10.0, 0.1, [1])), 'scanned drive "Omega" is not a recognized 2theta axis'),
        (raw4(), "RAW4 file has no measurement ranges"),
    ],
)
def test_refusals(data, message):
    with pytest.raises(ValueError) as refused:
        difrax.read_bytes(data, "scan.raw")
    assert str(refused.value) == "Parse error: Bruker RAW: " + message


@pytest.mark.parametrize("path", corpus_files("raw3") + corpus_files("raw4"), ids=lambda p: p.name)
def test_corpus_first_range_loads(path):
    pattern = difrax.read(str(path))
    assert len(pattern.x) == len(pattern.y) > 0
