"""End-to-end loads through difrax.read and difrax.read_bytes: every format reached by
its content and by its file-name extension. Each reader's rules and refusals, and the
real instrument files, are pinned by the C++ tests."""

import zipfile

import pytest

import builders as b

PLAIN = "10 1\n11 2\n"  # column text without any format's marker
STORED = bytearray(b.rasx(PLAIN, method=zipfile.ZIP_STORED))
STORED[STORED.index(b"10 1")] = ord("9")  # the stored profile no longer matches its CRC-32

CASES = {
    # Reached by content: the file name gives no hint or a misleading one.
    "xy": (b.XY, "scan.xye", {}, ([10.0, 10.02, 10.04], [112.0, 118.0, 121.5])),
    "chi": (b.CHI, "profile.dat", {}, ([0.71955997, 0.72662121, 0.73368245], [17.697741, 18.032085, 18.21523])),
    "ras": (b.RAS, "scan.txt", {}, ([2.0, 2.02, 2.04], [112.0, 118.0, 121.5])),
    "uxd": (b.UXD, "data", {}, ([3.0, 3.02, 3.04, 3.06], [2782.0, 2696.0, 2836.0, 2765.0])),
    "gsas": (b.GSAS, "pbso4.dat", {"index": 2}, ([0.5, 0.501, 0.502], [10.5, 11.5, 12.5])),
    "pdcif": (b.PDCIF, "pattern.xy", {"block": "run2"}, ([20.012, 20.032, 20.052], [150.0, 160.25, 171.0])),
    "raw3": (b.RAW3, "scan.raw", {"index": 2}, ([20.0, 20.125], [6.0, 7.0])),
    "raw4": (b.RAW4, "data", {"index": 1}, ([29.0, 29.5, 30.0], [3.0, 2.0, 1.0])),
    "xrdml": (b.XRDML, "export.txt", {}, ([10.0, 10.5, 11.0, 11.5, 12.0], [100.0, 200.0, 300.0, 400.0, 500.0])),
    "brml": (b.BRML, "scan.gsa", {"index": 1}, ([30.0, 30.5], [2.0, 1.0])),
    "rasx": (b.RASX, "data", {}, ([8.5, 8.51], [591.0, 609.0])),
    # Reached by extension only, any case: each reader refuses the plain columns in its own words.
    **{f"plain-{name}": (PLAIN, name, {}, (ValueError, "Parse error: " + message)) for name, message in {
        "a.ras": "RAS: scan 0 is out of range (0 scans)", "a.uxd": "UXD: data precedes a counts block",
        **dict.fromkeys("a.gsa a.GDA a.xra a.raw a.gsas a.fxye".split(),
                        "GSAS: bank index 0 is out of range (0 banks)"),
        "a.cif": 'pdCIF: unexpected token "10"', "a.CHI": "CHI: missing intensity label",
        "a.xrdml": "XML must contain exactly one root element"}.items()},
    # An archive that is not one is a ValueError; a damaged member is an I/O failure.
    "zip-refused": (b"PK\x03\x04" + bytes(100), "a.zip", {}, (ValueError, "Zip error: Not a zip archive")),
    "zip-damaged": (bytes(STORED), "a.rasx", {}, (OSError, "CRC error")),
}


@pytest.mark.parametrize("data, name, options, expected", CASES.values(), ids=CASES.keys())
def test_load_from_a_file_and_from_memory(tmp_path, data, name, options, expected):
    data = data.encode() if isinstance(data, str) else data
    (tmp_path / name).write_bytes(data)
    assert b.load(str(tmp_path / name), **options) == b.load(data, name, **options) == expected


@pytest.mark.parametrize("name", "scan.xy lab.chi run.ras bt86.uxd pbso4.gsa deposit.cif".split())
@pytest.mark.parametrize("encoding", ["utf-8-sig", "utf-16", "utf-16-be"])
def test_text_reads_alike_in_any_encoding_and_line_end(name, encoding):
    text = b.BUILT[name].decode()
    plain = b.load(b.BUILT[name], name)
    for variant in (text, text.replace("\r\n", "\n").replace("\n", "\r\n")):
        data = (b"\xfe\xff" if encoding == "utf-16-be" else b"") + variant.encode(encoding)
        assert b.load(data, name) == plain
