"""End-to-end loads of CHI, RAS, UXD and GSAS text through read_bytes."""

import pytest

import difrax

CHI = (
    "LaB6_0003.mar3450: Azimuth/2-theta\n"
    "2-Theta Angle (Degrees)\n"
    "Intensity\n"
    "       3\n"
    " 7.1955997E-01  1.7697741E+01\n"
    " 7.2662121E-01  1.8032085E+01\n"
    " 7.3368245E-01  1.8215230E+01\n"
)

RAS = (
    "*RAS_DATA_START\r\n"
    "*RAS_HEADER_START\r\n"
    '*MEAS_DATA_COUNT "3.0000000000"\r\n'
    '*MEAS_SCAN_AXIS_X "2-Theta"\r\n'
    "*RAS_HEADER_END\r\n"
    "*RAS_INT_START\r\n"
    "2.0000 112.0000 1.0000\r\n"
    "2.0200 118.0000 1.0000\r\n"
    "2.0400 121.5000 1.0000\r\n"
    "*RAS_INT_END\r\n"
    "*RAS_HEADER_START\r\n"
    '*MEAS_DATA_COUNT "2"\r\n'
    '*MEAS_SCAN_AXIS_X "Omega"\r\n'
    "*RAS_INT_START\r\n"
    "10.0 5\r\n"
    "10.1 6\r\n"
    "*RAS_INT_END\r\n"
    "*RAS_DATA_END\r\n"
)

UXD = (
    "; BT86.raw converted by XCH V1.0\n"
    "_FILEVERSION=2\n"
    "_SAMPLE='BT86'\n"
    "_DRIVE='COUPLED'\n"
    "_STEPSIZE=0.020000\n"
    "_START=3.000000\n"
    "_COUNTS\n"
    "     2782      2696      2836\n"
    "     2765\n"
    "_START=40.000000\n"
    "_2THETACOUNTS\n"
    "40.000\t187\n"
    "40.016\t183\n"
)

GSAS = (
    "PbSO4  Cu Ka X-ray data\n"
    "BANK 1  4  1 CONST 1000 2.5 0 0 STD\n"
    "     179     147     165     172       0       0       0       0       0       0\n"
    "BANK 2  2  2 CONST 2000 5.0 0 0 ESD\n"
    "   345.2    18.3   350.7    18.5\n"
)

FXYE = "11-BM sucrose\n# comment\nBANK 1 3 3 CONS 50.0 0.1 0 0 FXYE\n 50.0 10.5 1.2\n 50.1 11.5 1.3\n 50.2 12.5 1.4\n"


def load(content, name, index=0):
    data = content.encode() if isinstance(content, str) else content
    return difrax.read_bytes(data, name, index=index)


@pytest.mark.parametrize("name", ["profile.dat", "profile.chi", "PROFILE.CHI"])
def test_chi_by_shape_and_extension(name):
    pattern = load(CHI, name)
    assert pattern.x == [0.71955997, 0.72662121, 0.73368245]
    assert pattern.y == [17.697741, 18.032085, 18.21523]


def test_chi_count_mismatch_is_reached_by_extension_only():
    short = CHI.replace("       3\n", "       4\n")
    with pytest.raises(ValueError, match="^Parse error: CHI: header declares 4 points but 3 were read$"):
        load(short, "profile.chi")
    # Without the CHI shape, the file is free column text.
    assert len(load(short, "profile.dat").x) == 3


@pytest.mark.parametrize("name", ["scan.ras", "scan.txt", ""])
def test_ras_scans(name):
    pattern = load(RAS, name)
    assert pattern.x == [2.0, 2.02, 2.04]
    assert pattern.y == [112.0, 118.0, 121.5]
    with pytest.raises(ValueError, match='^Parse error: RAS: axis "Omega" is not 2theta in degrees$'):
        load(RAS, name, index=1)
    with pytest.raises(ValueError, match=r"^Parse error: RAS: scan 2 is out of range \(2 scans\)$"):
        load(RAS, name, index=2)


def test_ras_reached_by_extension_without_header_marker():
    bare = RAS[RAS.index("*RAS_INT_START") : RAS.index("*RAS_INT_END") + len("*RAS_INT_END\r\n")]
    assert load(bare, "scan.ras").y == [112.0, 118.0, 121.5]


@pytest.mark.parametrize("name", ["scan.uxd", "scan.txt"])
def test_uxd_scans(name):
    counts = load(UXD, name)
    assert counts.x == [3.0 + 0.02 * i for i in range(4)]
    assert counts.y == [2782.0, 2696.0, 2836.0, 2765.0]
    assert load(UXD, name, index=1).x == [40.0, 40.016]
    with pytest.raises(ValueError, match="^Parse error: UXD: scan 2 is out of range$"):
        load(UXD, name, index=2)


def test_uxd_reached_by_extension_without_drive():
    no_drive = UXD.replace("_DRIVE='COUPLED'\n", "")
    assert len(load(no_drive, "scan.uxd").y) == 4
    with pytest.raises(ValueError, match="^Parse error: UXD: data precedes a counts block$"):
        load("title line\n" + no_drive, "scan.uxd")


@pytest.mark.parametrize("name", ["pbso4.gsa", "pbso4.raw", "pbso4.ras", "pbso4.xy", "pbso4"])
def test_gsas_banks(name):
    first = load(GSAS, name)
    assert first.x == [10.0 + 0.025 * i for i in range(4)]
    assert first.y == [179.0, 147.0, 165.0, 172.0]
    second = load(GSAS, name, index=1)
    assert (second.x, second.y) == ([20.0, 20.0 + 0.05], [345.2, 350.7])
    with pytest.raises(ValueError, match=r"^Parse error: GSAS: bank index 2 is out of range \(2 banks\)$"):
        load(GSAS, name, index=2)


@pytest.mark.parametrize("name", ["sucrose.fxye", "sucrose.dat"])
def test_gsas_fxye(name):
    pattern = load(FXYE, name)
    assert pattern.x == [position / 100 for position in (50.0, 50.1, 50.2)]
    assert pattern.y == [10.5, 11.5, 12.5]


def test_gsas_extension_without_bank_line():
    with pytest.raises(ValueError, match=r"^Parse error: GSAS: bank index 0 is out of range \(0 banks\)$"):
        load("title only\n1 2 3\n", "data.raw")


@pytest.mark.parametrize(
    "content, name",
    [(CHI, "a.chi"), (RAS, "a.ras"), (UXD, "a.uxd"), (GSAS, "a.gsa"), (FXYE, "a.fxye")],
)
@pytest.mark.parametrize("encoding", ["utf-8-sig", "utf-16", "utf-16-be"])
def test_line_ends_and_encodings_read_alike(content, name, encoding):
    plain = load(content, name)
    crlf = content.replace("\r\n", "\n").replace("\n", "\r\n")
    for variant in (crlf.encode(encoding), content.encode(encoding)):
        if encoding == "utf-16-be":
            variant = b"\xfe\xff" + variant
        other = load(variant, name)
        assert (other.x, other.y) == (plain.x, plain.y)


@pytest.mark.parametrize(
    "content, name, message",
    [
        ("BANK 1 1000000000000000 1 CONS 1000 5\n1 2\n", "x.gsa",
         "GSAS STD: data is shorter than the declared 1000000000000000 channels"),
        ("BANK 1 18446744073709551615 1 CONS 1000 5 ESD\n1 2\n", "x.gsa",
         "GSAS ESD: data is shorter than the declared 18446744073709551615 channels"),
        ("BANK 1 2 1 TIME_MAP 1 2\n", "x.gsa", "GSAS: TIME_MAP binning does not provide a supported 2theta axis"),
        ("t\nq (nm^-1)\nI\n1\n1 2\n", "x.chi", 'CHI: x axis "q (nm^-1)" is not 2theta in degrees'),
        ("*RAS_HEADER_START\n*MEAS_DATA_COUNT 3.5\n", "x.ras", "RAS: invalid point count"),
        ("_DRIVE=COUPLED\n_RANGE_END\n", "x.uxd", 'UXD: unsupported block marker "_RANGE_END"'),
    ],
)
def test_refusals(content, name, message):
    with pytest.raises(ValueError) as failure:
        load(content, name)
    assert str(failure.value) == "Parse error: " + message
