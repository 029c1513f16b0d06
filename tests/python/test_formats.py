"""End-to-end loads of every format through difrax.read and difrax.read_bytes:
each format reached by its content and by its file-name extension, patterns
chosen by index or block, one representative refusal per format, and the
real instrument files. The readers' rules in detail are pinned by the C++ tests."""

import zipfile

import pytest

import builders as b
import difrax
from conftest import corpus_files


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
RAS = ([2.0, 2.02, 2.04], [112.0, 118.0, 121.5])
UXD = ([40.0, 40.016], [187.0, 183.0])
RUN1 = ([10.0 + 0.02 * i for i in range(5)], [112.0, 118.0, 121.0, 130.0, 127.0])
RUN2 = ([20.012, 20.032, 20.052], [150.0, 160.25, 171.0])
PLAIN = "10 1\n11 2\n"  # column text without any format's marker
GSAS_BY_EXTENSION = refused("GSAS: bank index 0 is out of range (0 banks)")
STORED = bytearray(b.rasx(PLAIN, method=zipfile.ZIP_STORED))
STORED[STORED.index(b"10 1")] = ord("9")  # the stored profile no longer matches its CRC-32

CASES = {
    # Reached by content: the file name gives no hint or a misleading one.
    "xy": (b.XY, "scan.xye", {}, ([10.0, 10.02, 10.04], [112.0, 118.0, 121.5])),
    "xy-descending": ("12 3\n11 2\n10 1\n", "data", {}, ([10.0, 11.0, 12.0], [1.0, 2.0, 3.0])),
    "chi": (b.CHI, "profile.dat", {}, CHI),
    "ras": (b.RAS, "scan.txt", {}, RAS),
    "uxd": (b.UXD, "data", {}, ([3.0 + 0.02 * i for i in range(4)], [2782.0, 2696.0, 2836.0, 2765.0])),
    "uxd-second-range": (b.UXD, "scan.uxd", {"index": 1}, UXD),
    "gsas-std": (b.GSAS, "pbso4.dat", {}, ([10.0 + 0.025 * i for i in range(4)], [179.0, 147.0, 165.0, 172.0])),
    "gsas-esd": (b.GSAS, "pbso4.raw", {"index": 1}, ([20.0, 20.05], [345.2, 350.7])),
    "gsas-fxye": (b.FXYE, "sucrose.txt", {}, ([0.5, 0.501, 0.502], [10.5, 11.5, 12.5])),
    "pdcif": (b.PDCIF, "pattern.xy", {}, RUN1),
    "pdcif-block-none": (b.PDCIF, "refined.cif", {"block": None}, RUN1),
    "pdcif-block": (b.PDCIF, "refined.cif", {"block": "run2"}, RUN2),
    "raw3": (b.RAW3, "scan.raw", {"index": 2}, ([20.0, 20.125], [6.0, 7.0])),
    "raw4": (b.RAW4, "data", {"index": 1}, ([29.0, 29.5, 30.0], [3.0, 2.0, 1.0])),
    "xrdml": (b.XRDML, "export.txt", {}, ([10.0, 10.5, 11.0, 11.5, 12.0], [100.0, 200.0, 3000.0, 4000.0, 500.0])),
    "xrdml-second-measurement": (b.XRDML, "run.xrdml", {"index": 2}, ([20.0, 25.0, 30.0], [3.0, 2.0, 1.0])),
    "brml": (b.BRML, "data", {"index": 1}, ([30.0, 30.5], [2.0, 1.0])),
    "brml-stored": (b.BUILT["stored.brml"], "scan.gsa", {}, ([10.0, 10.5], [5.0, 7.0])),
    "rasx": (b.RASX, "data", {}, ([8.5, 8.51], [591.0, 609.0])),
    # Reached by extension only: the content lacks the marker detection looks for.
    "chi-by-extension": (b.CHI.replace("LaB6_0003.mar3450: Azimuth/2-theta", "0003 1500"), "PROFILE.CHI", {}, CHI),
    "ras-by-extension": ("*RAS_INT_START\n2.00 112\n2.02 118\n2.04 121.5\n*RAS_INT_END\n", "scan.ras", {}, RAS),
    "uxd-by-extension": (b.UXD.replace("_DRIVE='COUPLED'\n", ""), "scan.uxd", {"index": 1}, UXD),
    "pdcif-by-extension": (b.PDCIF.replace("data_", "DATA_").replace("_pd_", "_PD_"), "x.CIF", {"block": "run2"}, RUN2),
    **{f"plain-{name}": (PLAIN, name, {}, ([10.0, 11.0], [1.0, 2.0])) for name in ("a.xy", "a.dat", "a")},
    "plain-ras": (PLAIN, "a.ras", {}, refused("RAS: scan 0 is out of range (0 scans)")),
    "plain-uxd": (PLAIN, "a.uxd", {}, refused("UXD: data precedes a counts block")),
    **{f"plain-{ext}": (PLAIN, f"a.{ext}", {}, GSAS_BY_EXTENSION) for ext in "gsa gda xra raw gsas fxye".split()},
    "plain-cif": (PLAIN, "a.cif", {}, refused('pdCIF: unexpected token "10"')),
    "plain-chi": (PLAIN, "a.chi", {}, refused("CHI: missing intensity label")),
    "plain-xrdml": (PLAIN, "a.xrdml", {}, refused("XML must contain exactly one root element")),
    "plain-brml": (PLAIN, "a.brml", {}, refused("brml is not a readable ZIP archive")),
    "plain-rasx": (PLAIN, "a.RASX", {}, refused("rasx is not a readable ZIP archive")),
    # One refusal per format.
    "xy-refused": ("10 1\n11 inf\n", "a.xy", {}, refused("ASCII pattern contains a non-finite value")),
    "xy-index": (b.XY, "a.xy", {"index": 1}, refused("this format has one pattern; index must be 0")),
    "chi-refused": (b.CHI.replace("  3\n", "  4\n"), "a.chi", {},
                    refused("CHI: header declares 4 points but 3 were read")),
    "ras-refused": (b.RAS, "a.ras", {"index": 1}, refused('RAS: axis "Omega" is not 2theta in degrees')),
    "uxd-refused": (b.UXD, "a.uxd", {"index": 2}, refused("UXD: scan 2 is out of range")),
    "gsas-refused": ("BANK 1 2 1 TIME_MAP 1 2\n", "a.gsa", {},
                     refused("GSAS: TIME_MAP binning does not provide a supported 2theta axis")),
    "pdcif-refused": (b.PDCIF, "a.cif", {"block": "global"},
                      refused("pdCIF: no matching block with 2theta and intensity data")),
    "pdcif-index": (b.PDCIF, "a.cif", {"index": 1, "block": "run2"},
                    refused("this format has one pattern; index must be 0")),
    "raw2-refused": (b"RAW2" + bytes(100), "a.raw", {},
                     refused("Bruker RAW: versions 1 and 2 are unsupported; export RAW3, RAW4, UXD, or XY")),
    "raw3-refused": (b.RAW3, "a.raw", {"index": 3}, refused("Bruker RAW: scan 3 is out of range; file has 3 scans")),
    "raw4-refused": (b.RAW4, "a.raw", {}, refused('Bruker RAW: scan type "Rocking Curve" does not '
                                                  "establish a 2theta axis; export a coupled 2theta scan")),
    "xrdml-refused": (b.XRDML, "a.xrdml", {"index": 1}, refused('XRDML scan axis "Omega" is not 2theta')),
    "brml-refused": (b.BRML, "a.brml", {"index": 2}, refused("scan 2 is out of range (2 scans)")),
    "rasx-refused": (b.rasx(PLAIN, axis="Omega"), "a.rasx", {},
                     refused('scan axis "Omega" is not a supported 2theta scan')),
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


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: f"{p.parent.name}/{p.name}")
def test_corpus_loads_alike_from_path_and_bytes(path):
    result = outcome(lambda: difrax.read(str(path)))
    assert outcome(lambda: difrax.read_bytes(path.read_bytes(), path.name)) == result
    if result[0] is ValueError:
        assert result[1].startswith("Parse error: ")
    else:
        x, y = result
        assert len(x) == len(y) > 100 and all(a < b for a, b in zip(x, x[1:]))
