"""End-to-end loads through difrax.read and difrax.read_bytes: every format reached by
its content and by its file-name extension. Each reader's rules and refusals, and the
real instrument files, are pinned by the C++ tests."""

import zipfile

import pytest

import builders as b
import difrax


def outcome(call):
    """The loaded (x, y), or the type and text of the error."""
    try:
        pattern = call()
    except (ValueError, OSError) as error:
        return type(error), str(error)
    return pattern.x, pattern.y


def load_both(tmp_path, data, name, **options):
    """Loads from a file of that name and from memory; both must agree."""
    data = data.encode() if isinstance(data, str) else data
    (tmp_path / name).write_bytes(data)
    from_file = outcome(lambda: difrax.read(str(tmp_path / name), **options))
    assert outcome(lambda: difrax.read_bytes(data, name, **options)) == from_file
    return from_file


def refused(message):
    return ValueError, "Parse error: " + message


CHI = ([0.71955997, 0.72662121, 0.73368245], [17.697741, 18.032085, 18.21523])
PLAIN = "10 1\n11 2\n"  # column text without any format's marker
STORED = bytearray(b.rasx(PLAIN, method=zipfile.ZIP_STORED))
STORED[STORED.index(b"10 1")] = ord("9")  # the stored profile no longer matches its CRC-32

CASES = {
    # Reached by content: the file name gives no hint or a misleading one.
    "xy": (b.XY, "scan.xye", {}, ([10.0, 10.02, 10.04], [112.0, 118.0, 121.5])),
    "chi": (b.CHI, "profile.dat", {}, CHI),
    "ras": (b.RAS, "scan.txt", {}, ([2.0, 2.02, 2.04], [112.0, 118.0, 121.5])),
    "uxd": (b.UXD, "data", {}, ([3.0 + 0.02 * i for i in range(4)], [2782.0, 2696.0, 2836.0, 2765.0])),
    "gsas-std": (b.GSAS, "pbso4.dat", {}, ([10.0 + 0.025 * i for i in range(4)], [179.0, 147.0, 165.0, 172.0])),
    "gsas-fxye": (b.FXYE, "sucrose.txt", {}, ([0.5, 0.501, 0.502], [10.5, 11.5, 12.5])),
    "pdcif": (b.PDCIF, "pattern.xy", {}, ([10.0, 10.02, 10.04], [112.0, 118.0, 121.0])),
    "pdcif-block": (b.PDCIF, "refined.cif", {"block": "run2"}, ([20.012, 20.032, 20.052], [150.0, 160.25, 171.0])),
    "raw3": (b.RAW3, "scan.raw", {"index": 2}, ([20.0, 20.125], [6.0, 7.0])),
    "raw4": (b.RAW4, "data", {"index": 1}, ([29.0, 29.5, 30.0], [3.0, 2.0, 1.0])),
    "xrdml": (b.XRDML, "export.txt", {}, ([10.0, 10.5, 11.0, 11.5, 12.0], [100.0, 200.0, 3000.0, 4000.0, 500.0])),
    "brml": (b.BRML, "data", {"index": 1}, ([30.0, 30.5], [2.0, 1.0])),
    "brml-stored": (b.BUILT["stored.brml"], "scan.gsa", {}, ([10.0, 10.5], [5.0, 7.0])),
    "rasx": (b.RASX, "data", {}, ([8.5, 8.51], [591.0, 609.0])),
    # Reached by extension only: the content lacks the marker detection looks for.
    "chi-by-extension": (b.CHI.replace("LaB6_0003.mar3450: Azimuth/2-theta", "0003 1500"), "PROFILE.CHI", {}, CHI),
    **{f"plain-{name}": (PLAIN, name, {}, ([10.0, 11.0], [1.0, 2.0])) for name in ("a.xy", "a.dat", "a")},
    **{f"plain-{name}": (PLAIN, name, {}, refused(message)) for name, message in {
        "a.ras": "RAS: scan 0 is out of range (0 scans)", "a.uxd": "UXD: data precedes a counts block",
        **dict.fromkeys("a.gsa a.gda a.xra a.raw a.gsas a.fxye".split(),
                        "GSAS: bank index 0 is out of range (0 banks)"),
        "a.cif": 'pdCIF: unexpected token "10"', "a.chi": "CHI: missing intensity label",
        "a.xrdml": "XML must contain exactly one root element", "a.brml": "brml is not a readable ZIP archive",
        "a.RASX": "rasx is not a readable ZIP archive"}.items()},
    # Refusals: a scan chosen by index, a block without a profile, an archive that is not one or is damaged.
    "xrdml-refused": (b.XRDML, "a.xrdml", {"index": 1}, refused('XRDML scan axis "Omega" is not 2theta')),
    "pdcif-refused": (b.PDCIF, "a.cif", {"block": "global"},
                      refused("pdCIF: no matching block with 2theta and intensity data")),
    "zip-refused": (b"PK\x03\x04" + bytes(100), "a.zip", {}, (ValueError, "Zip error: Not a zip archive")),
    "zip-damaged": (bytes(STORED), "a.rasx", {}, (OSError, "CRC error")),
}


@pytest.mark.parametrize("data, name, options, expected", CASES.values(), ids=CASES.keys())
def test_load(tmp_path, data, name, options, expected):
    assert load_both(tmp_path, data, name, **options) == expected


@pytest.mark.parametrize("name", "scan.xy lab.chi run.ras bt86.uxd pbso4.gsa sucrose.fxye deposit.cif".split())
@pytest.mark.parametrize("encoding", ["utf-8-sig", "utf-16", "utf-16-be"])
def test_text_reads_alike_in_any_encoding_and_line_end(name, encoding):
    text = b.BUILT[name].decode()
    plain = outcome(lambda: difrax.read_bytes(b.BUILT[name], name))
    for variant in (text, text.replace("\r\n", "\n").replace("\n", "\r\n")):
        data = (b"\xfe\xff" if encoding == "utf-16-be" else b"") + variant.encode(encoding)
        assert outcome(lambda: difrax.read_bytes(data, name)) == plain

