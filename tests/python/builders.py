"""Small files in every format difrax reads, for the format, command-line and
robustness tests, and how those tests load them. Each reader's own rules are
pinned by the C++ tests; these files only need to load, to hold several
patterns, or to refuse one of them."""

import io
import struct
import zipfile

import difrax


def load(source, name=None, index=0, block=None):
    """The (x, y) loaded from a path, or from bytes under a file name; or the type and text of the error."""
    try:
        if name is None:
            pattern = difrax.read(source, index=index, block=block)
        else:
            pattern = difrax.read_bytes(source, name, index=index, block=block)
    except (ValueError, OSError) as error:
        return type(error), str(error)
    return pattern.x, pattern.y


XY = "Corundum, Cu Ka1\n2theta counts esd\n# step 0.02 deg\n10.00 112 10.6\r\n10.02 118 10.9\r\n10.04 121.5 11.0\r\n"

CHI = (
    "LaB6_0003.mar3450: Azimuth/2-theta\n2-Theta Angle (Degrees)\nIntensity\n       3\n"
    " 7.1955997E-01  1.7697741E+01\n 7.2662121E-01  1.8032085E+01\n 7.3368245E-01  1.8215230E+01\n"
)

# Two scans; the second is an omega scan, which is refused.
RAS = (
    '*RAS_DATA_START\r\n*RAS_HEADER_START\r\n*MEAS_SCAN_AXIS_X "2-Theta"\r\n*RAS_INT_START\r\n'
    "2.0000 112.0000 1.0000\r\n2.0200 118.0000 1.0000\r\n2.0400 121.5000 1.0000\r\n*RAS_INT_END\r\n"
    '*RAS_HEADER_START\r\n*MEAS_SCAN_AXIS_X "Omega"\r\n*RAS_INT_START\r\n10.0 5\r\n10.1 6\r\n*RAS_INT_END\r\n'
)

# A counts-only range (x from _START and _STEPSIZE), then a 2theta/counts range.
UXD = (
    "_FILEVERSION=2\n_DRIVE='COUPLED'\n_STEPSIZE=0.020000\n_START=3.000000\n_COUNTS\n     2782      2696      2836\n"
    "     2765\n_2THETACOUNTS\n40.000\t187\n40.016\t183\n"
)

# STD, ESD and FXYE banks, in centidegrees.
GSAS = (
    "PbSO4  Cu Ka X-ray data\nBANK 1  4  1 CONST 1000 2.5 0 0 STD\n     179     147     165     172\n"
    "BANK 2  2  2 CONST 2000 5.0 0 0 ESD\n   345.2    18.3   350.7    18.5\n"
    "BANK 3 3 3 CONS 50.0 0.1 0 0 FXYE\n 50.0 10.5 1.2\n 50.1 11.5 1.3\n 50.2 12.5 1.4\n"
)

# A publication block without a profile, then two diffractograms.
PDCIF = """\
data_global
_publ_section_title  'A made-up oxide'

data_sample_run1
loop_
 _pd_meas_2theta_scan  _pd_meas_counts_total
   10.00  112(11)  10.02  118(11)  10.04  121(11)

data_sample_run2
loop_
 _pd_proc_2theta_corrected  _pd_proc_intensity_total
   20.012  1.5e2(3)  20.032  160.25  20.052  171.0(12)
"""


def xrdml(*measurements):
    """An XRDML document; each measurement is a list of scans (scan axis, 2theta start and end, counts)."""
    scan = ('<scan scanAxis="{}"><dataPoints><positions axis="2Theta" unit="deg"><startPosition>{}</startPosition>'
            "<endPosition>{}</endPosition></positions><counts>{}</counts></dataPoints></scan>")
    body = "".join("\n <xrdMeasurement>" + "".join(scan.format(*s) for s in scans) + "</xrdMeasurement>"
                   for scans in measurements)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/2.1">'
            f"{body}\n</xrdMeasurements>\n").encode()


# Three scans over two measurements: counts, an omega scan (refused), a descending scan.
XRDML = xrdml([("Gonio", 10.0, 12.0, "100 200 300 400 500"), ("Omega", 1.0, 2.0, "5 6")],
              [("2Theta-Omega", 30.0, 20.0, "1 2 3")])


def archive(members, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as z:
        for name, content in members:
            z.writestr(name, content)
    return buffer.getvalue()


def brml(*scans):
    """A BRML container; each scan is a list of (2theta, counts) records."""
    names = [f"Experiment0/RawData{i}.xml" for i in range(len(scans))]
    listed = "".join(f"<string>{name}</string>" for name in names)
    members = [("Experiment0/DataContainer.xml",
                f"<DataContainer><RawDataReferenceList>{listed}</RawDataReferenceList></DataContainer>")]
    for name, records in zip(names, scans):
        data = "".join(f"<Datum>{x},{y}</Datum>" for x, y in records)
        members.append((name, f'<RawData><DataRoutes><DataRoute RouteFlag="Measured">{data}<DataViews>'
                        '<RawDataView xsi:type="VaryingRawDataView" Start="0" Length="1">'
                        '<FieldDefinitions AxisId="TwoTheta"/></RawDataView>'
                        '<RawDataView xsi:type="RecordedRawDataView" Start="1" Length="1"/>'
                        "</DataViews></DataRoute></DataRoutes></RawData>"))
    return archive(members)


def rasx(profile, method=zipfile.ZIP_DEFLATED):
    """A RASX container with one profile text and its measurement conditions."""
    return archive([
        ("Data0/Profile0.txt", profile),
        ("Data0/MesurementConditions0.xml",
         "<Conditions><ScanInformation><AxisName>TwoThetaTheta</AxisName></ScanInformation></Conditions>"),
        ("root.xml", '<Root><Data0 Type="Profile"><ContentHashList Name="Profile0.txt"/>'
                     '<ContentHashList Name="MesurementConditions0.xml"/></Data0></Root>'),
    ], method)


BRML = brml([(10.0, 5), (10.5, 7)], [(30.5, 1), (30.0, 2)])
RASX = rasx("8.5\t591\t1\r\n8.51\t609\t1\r\n")


def raw3(*ranges):
    """A Bruker RAW3 file; each range is (start, step, scan type, intensities)."""
    out = bytearray(b"RAW1.01".ljust(712, b"\x5a"))
    struct.pack_into("<I", out, 12, len(ranges))
    for start, step, scan_type, ys in ranges:
        # Range header: size, points, start@16, step@176, scan type@196, varying@248, record size, extra size.
        out += struct.pack("<II8xd152xd12xI48x3I44x", 304, len(ys), start, step, scan_type, 0, 4, 0)
        out += struct.pack(f"<{len(ys)}f", *ys)
    return bytes(out)


def raw4(*ranges):
    """A Bruker RAW4 file; each range is (scan type, start, step, intensities)."""
    out = bytearray(b"RAW4.00".ljust(61, b"\x5a"))
    out += struct.pack("<II", 30, 12) + b"\xff" * 4  # a generic segment
    for scan_type, start, step, ys in ranges:
        # Range header: scan type@32, start, step and points@72, record size@136, no drive segments.
        out += struct.pack("<32x24s16xddI44x2I16x", scan_type.encode("latin-1"), start, step, len(ys), 4, 0)
        out += struct.pack(f"<{len(ys)}f", *ys)
    return bytes(out)


# Scan type 3 (omega) and a "Rocking Curve" are refused.
RAW3 = raw3((10.0, 0.5, 0, [1, 2, 3]), (40.0, -0.25, 3, [4, 5]), (20.0, 0.125, 20, [6, 7]))
RAW4 = raw4(("Rocking Curve", 1.0, 0.1, [9]), ("Locked Coupled", 30.0, -0.5, [1, 2, 3]))

# Every builder-made file by a file name, as the command-line tests write them.
BUILT = {
    "scan.xy": XY.encode(), "lab.chi": CHI.encode(), "run.ras": RAS.encode(), "bt86.uxd": UXD.encode(),
    "pbso4.gsa": GSAS.encode(), "deposit.cif": PDCIF.encode(), "ranges.raw": RAW3, "drives.raw": RAW4,
    "run.xrdml": XRDML, "scans.brml": BRML, "profile.rasx": RASX,
}
