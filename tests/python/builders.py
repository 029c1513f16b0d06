"""Small files in every format difrax reads, laid out the way instruments and
refinement programs write them, for the format, command-line and robustness tests."""

import io
import struct
import zipfile

XY = "Corundum, Cu Ka1\n2theta counts esd\n# step 0.02 deg\n10.00 112 10.6\r\n10.02 118 10.9\r\n10.04 121.5 11.0\r\n"

CHI = (
    "LaB6_0003.mar3450: Azimuth/2-theta\n2-Theta Angle (Degrees)\nIntensity\n       3\n"
    " 7.1955997E-01  1.7697741E+01\n 7.2662121E-01  1.8032085E+01\n 7.3368245E-01  1.8215230E+01\n"
)

# Two scans; the second is an omega scan, which is refused.
RAS = (
    '*RAS_DATA_START\r\n*RAS_HEADER_START\r\n*MEAS_DATA_COUNT "3.0000000000"\r\n*MEAS_SCAN_AXIS_X "2-Theta"\r\n'
    "*RAS_HEADER_END\r\n*RAS_INT_START\r\n2.0000 112.0000 1.0000\r\n2.0200 118.0000 1.0000\r\n"
    '2.0400 121.5000 1.0000\r\n*RAS_INT_END\r\n*RAS_HEADER_START\r\n*MEAS_DATA_COUNT "2"\r\n'
    '*MEAS_SCAN_AXIS_X "Omega"\r\n*RAS_INT_START\r\n10.0 5\r\n10.1 6\r\n*RAS_INT_END\r\n*RAS_DATA_END\r\n'
)

# A counts-only range (x from _START and _STEPSIZE), then a 2theta/counts range.
UXD = (
    "; BT86.raw converted by XCH V1.0\n_FILEVERSION=2\n_SAMPLE='BT86'\n_DRIVE='COUPLED'\n_STEPSIZE=0.020000\n"
    "_START=3.000000\n_COUNTS\n     2782      2696      2836\n     2765\n"
    "_START=40.000000\n_2THETACOUNTS\n40.000\t187\n40.016\t183\n"
)

# An STD bank (zero counts pad the last record) and an ESD bank, in centidegrees.
GSAS = (
    "PbSO4  Cu Ka X-ray data\nBANK 1  4  1 CONST 1000 2.5 0 0 STD\n"
    "     179     147     165     172       0       0       0       0       0       0\n"
    "BANK 2  2  2 CONST 2000 5.0 0 0 ESD\n   345.2    18.3   350.7    18.5\n"
)

FXYE = "11-BM sucrose\n# comment\nBANK 1 3 3 CONS 50.0 0.1 0 0 FXYE\n 50.0 10.5 1.2\n 50.1 11.5 1.3\n 50.2 12.5 1.4\n"

# A refinement deposit: a publication block without a profile, then two
# diffractograms, the second with processed intensities and a corrected axis.
PDCIF = """\
#\\#CIF_1.1
data_global
_publ_section_title
; Crystal structure of a made-up oxide
;
_publ_contact_author_name  'O'Brien, A.'

data_sample_run1
_pd_block_id  2024-01-01T10:00|RUN1|lab
_pd_meas_2theta_range_min     10.00
_pd_meas_2theta_range_max     10.04
_pd_meas_2theta_range_inc     0.02
loop_
 _pd_meas_counts_total
 _pd_proc_ls_weight
   112(11)  0.0089
   118(11)  0.0085   # a comment inside the loop
   121(11)  0.0083

data_sample_run2
loop_
 _pd_proc_2theta_corrected
 _pd_proc_intensity_total
 _pd_meas_counts_total
   20.012  1.5e2(3)  150
   20.032  160.25    161
   20.052  171.0(12) 171
"""


def xrdml_scan(axis, start, end, counts, factors=None, tag="counts"):
    """One XRDML scan with 2Theta and Omega positions and its intensities."""
    positions = "".join(
        f'<x:positions axis="{name}" unit="deg"><x:startPosition>{start * k}</x:startPosition>'
        f"<x:endPosition>{end * k}</x:endPosition></x:positions>" for name, k in (("2Theta", 1), ("Omega", 0.5)))
    attenuation = "" if factors is None else f"<x:beamAttenuationFactors>{factors}</x:beamAttenuationFactors>"
    return (f'\n  <x:scan appendNumber="0" mode="Continuous" scanAxis="{axis}" status="Completed"><x:dataPoints>'
            f'{positions}<x:commonCountingTime unit="seconds">0.5</x:commonCountingTime>{attenuation}'
            f'<x:{tag} unit="counts">{counts}</x:{tag}></x:dataPoints></x:scan>')


def xrdml(*measurements):
    """An XRDML document; each measurement is a list of scans."""
    body = "".join(
        '\n <x:xrdMeasurement measurementType="Repeated scan" status="Completed">'
        "<x:comment><x:entry>Cu tube &amp; Ni filter</x:entry></x:comment>"
        '<x:usedWavelength intended="K-Alpha 1"><x:kAlpha1 unit="Angstrom">1.5405980</x:kAlpha1></x:usedWavelength>'
        + "".join(scans) + "</x:xrdMeasurement>" for scans in measurements)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<!-- written by the Data Collector -->\n<x:xrdMeasurements '
            'xmlns:x="http://www.xrdml.com/XRDMeasurement/2.1" status="Completed"><x:sample type="To be analyzed">'
            f"<x:id>S-1</x:id></x:sample>{body}\n</x:xrdMeasurements>\n").encode()


# Four scans over two measurements: attenuated counts, an omega scan (refused),
# a descending scan with <intensities>, and counts with odd whitespace.
XRDML = xrdml(
    [xrdml_scan("Gonio", 10.0, 12.0, "100 200 300 400 500", "1 1 10 10 1"), xrdml_scan("Omega", 1.0, 2.0, "5 6")],
    [xrdml_scan("2Theta-Omega", 30.0, 20.0, "1\n2\n3", "2 2 2", "intensities"),
     xrdml_scan("Omega-2Theta", 40.0, 41.0, "\t7 8 ")],
)


def archive(members, method):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as z:
        for name, content in members:
            z.writestr(name, content)
    return buffer.getvalue()


def brml(*scans, method=zipfile.ZIP_DEFLATED):
    """A BRML container; each scan is a list of (2theta, counts) records."""
    names = [f"Experiment0/RawData{i}.xml" for i in range(len(scans))]
    listed = "".join(f"<string>{name}</string>" for name in names)
    members = [("Experiment0/DataContainer.xml",
                f"<DataContainer><RawDataReferenceList>{listed}</RawDataReferenceList></DataContainer>")]
    for name, records in zip(names, scans):
        data = "".join(f"<Datum>1,1,{x},{x / 2},{y}</Datum>" for x, y in records)
        members.append((name, '<RawData xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><DataRoutes>'
                        f'<DataRoute RouteFlag="Measured">{data}<DataViews>'
                        '<RawDataView xsi:type="FixedRawDataView" Start="0" Length="2"/>'
                        '<RawDataView xsi:type="VaryingRawDataView" Start="2" Length="2">'
                        '<FieldDefinitions AxisId="TwoTheta"/><FieldDefinitions AxisId="Theta"/></RawDataView>'
                        '<RawDataView xsi:type="RecordedRawDataView" Start="4" Length="1"/>'
                        "</DataViews></DataRoute></DataRoutes></RawData>"))
    return archive(members, method)


def rasx(profile, axis="TwoThetaTheta", method=zipfile.ZIP_DEFLATED):
    """A RASX container with one profile text and its measurement conditions."""
    return archive([
        ("Data0/Profile0.txt", profile),
        ("Data0/MesurementConditions0.xml",
         f"<Conditions><ScanInformation><AxisName>{axis}</AxisName></ScanInformation></Conditions>"),
        ("root.xml", '<Root><Data0 Type="Profile"><ContentHashList Name="Profile0.txt"/>'
                     '<ContentHashList Name="MesurementConditions0.xml"/></Data0></Root>'),
    ], method)


BRML = brml([(10.0, 5), (10.5, 7)], [(30.5, 1), (30.0, 2)])
RASX = rasx("\ufeff8.5\t591\t1\r\n\r\n8.51\t609\t1\r\n")


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
    """A Bruker RAW4 file; each range is (scan type, drive name or None, start, step, intensities)."""
    out = bytearray(b"RAW4.00".ljust(61, b"\x5a"))
    out += struct.pack("<II", 30, 12) + b"\xff" * 4  # a generic segment
    for scan_type, drive, start, step, ys in ranges:
        # A drive segment (type 50) naming the scanned drive; a range header with the scan type@32,
        # start, step and points@72, record size@136 and the size of the segments that follow.
        drives = b"" if drive is None else struct.pack("<3I24s20xd", 50, 64, 1, drive.encode("latin-1"), start)
        header = struct.pack("<32x24s16xddI44x2I16x", scan_type.encode("latin-1"), start, step, len(ys), 4, len(drives))
        out += header + drives + struct.pack(f"<{len(ys)}f", *ys)
    return bytes(out)


# Scan type 3 (an omega scan) is refused; a "Rocking Curve" only loads when its
# scanned drive is 2theta.
RAW3 = raw3((10.0, 0.5, 0, [1, 2, 3]), (40.0, -0.25, 3, [4, 5]), (20.0, 0.125, 20, [6, 7]))
RAW4 = raw4(("Rocking Curve", None, 1.0, 0.1, [9]), ("Rocking Curve", " 2-Theta ", 30.0, -0.5, [1, 2, 3]))

# Every builder-made file by a file name, as the command-line tests write them.
BUILT = {
    "scan.xy": XY.encode(), "lab.chi": CHI.encode(), "run.ras": RAS.encode(), "bt86.uxd": UXD.encode(),
    "pbso4.gsa": GSAS.encode(), "sucrose.fxye": FXYE.encode(), "deposit.cif": PDCIF.encode(),
    "ranges.raw": RAW3, "drives.raw": RAW4, "run.xrdml": XRDML, "scans.brml": BRML,
    "stored.brml": brml([(10.0, 5), (10.5, 7)], method=zipfile.ZIP_STORED), "profile.rasx": RASX,
}
