"""Writes the bundled example files: one synthetic corundum-like powder pattern
(Cu K-alpha, a background plus the corundum reflections with counting noise)
in every format difrax reads, laid out the way the instruments and programs
that write each format lay it out.

    python examples/make_examples.py [FOLDER]

The files go to FOLDER (default: the folder of this script). The random
generator has a fixed seed, so every run writes the same bytes. Files of
multi-pattern formats hold two scans: an overview from 10 to 80 degrees and a
slower detail scan over the two strong reflections at 35 and 38 degrees.
examples/corundum.xy is not written here.

Only the standard library is used: the binary RAW files are packed with
struct, the BRML and RASX containers are built with zipfile.
"""

import io
import math
import random
import struct
import sys
import zipfile
from dataclasses import dataclass
from pathlib import Path

SEED = 20240517

# Cu K-alpha1 and K-alpha2 wavelengths (Angstrom) and the alpha2/alpha1 ratio.
LAMBDA1 = 1.540593
LAMBDA2 = 1.544414
ALPHA2_RATIO = 0.5

# Corundum (alpha-Al2O3) reflections: hkl, 2theta for Cu K-alpha1 (degrees),
# relative intensity.
REFLECTIONS = [
    ("012", 25.578, 45),
    ("104", 35.152, 100),
    ("110", 37.776, 42),
    ("006", 41.675, 1),
    ("113", 43.355, 95),
    ("202", 46.175, 2),
    ("024", 52.549, 44),
    ("116", 57.496, 88),
    ("211", 59.739, 3),
    ("122", 61.117, 2),
    ("018", 61.298, 12),
    ("214", 66.519, 32),
    ("300", 68.212, 49),
    ("125", 70.418, 1),
    ("208", 74.297, 2),
    ("1010", 76.869, 15),
    ("119", 77.224, 7),
]


@dataclass(frozen=True)
class Scan:
    """One measured range: start and step in degrees 2theta, the number of
    points, and the counting time per step in seconds."""

    name: str
    start: float
    step: float
    points: int
    time: float

    def angle(self, i):
        return self.start + self.step * i

    @property
    def stop(self):
        return self.angle(self.points - 1)


OVERVIEW = Scan("overview", 10.0, 0.04, 1751, 1.0)
DETAIL = Scan("detail", 34.8, 0.01, 341, 4.0)
SCANS = (OVERVIEW, DETAIL)


def alpha2_angle(two_theta):
    """Where the K-alpha2 line of a reflection at `two_theta` (K-alpha1) lies."""
    d = LAMBDA1 / (2 * math.sin(math.radians(two_theta / 2)))
    return 2 * math.degrees(math.asin(LAMBDA2 / (2 * d)))


def fwhm(two_theta):
    """Peak width in degrees, rising with tan(theta) (Caglioti)."""
    t = math.tan(math.radians(two_theta / 2))
    return math.sqrt(0.004 * t * t - 0.002 * t + 0.006)


def pseudo_voigt(offset, width, eta=0.5):
    """Unit-height pseudo-Voigt profile at `offset` degrees from its centre."""
    u = 2 * offset / width
    return eta / (1 + u * u) + (1 - eta) * math.exp(-math.log(2) * u * u)


def expected_counts(two_theta, seconds):
    """Mean counts at one angle: a decaying background with a faint hump
    around 22 degrees (sample holder) and the K-alpha1/K-alpha2 doublets."""
    background = 55 + 1300 / two_theta + 25 * math.exp(-(((two_theta - 22) / 6) ** 2))
    peaks = 0.0
    for _, centre, relative in REFLECTIONS:
        if abs(two_theta - centre) > 3:
            continue
        width = fwhm(centre)
        height = 52 * relative
        peaks += height * pseudo_voigt(two_theta - centre, width)
        peaks += ALPHA2_RATIO * height * pseudo_voigt(two_theta - alpha2_angle(centre), width)
    return seconds * (background + peaks)


def counting_noise(rng, mean):
    """A Poisson-distributed count of the given mean (normal approximation
    above 50 counts)."""
    if mean < 50:
        limit, k, product = math.exp(-mean), 0, rng.random()
        while product > limit:
            k += 1
            product *= rng.random()
        return k
    return max(0, round(rng.gauss(mean, math.sqrt(mean))))


def measure(rng, scan):
    """The angles and the integer counts of one scan."""
    x = [scan.angle(i) for i in range(scan.points)]
    y = [counting_noise(rng, expected_counts(a, scan.time)) for a in x]
    return x, y


# ---------------------------------------------------------------------------
# Text formats


def chi(rng):
    """Fit2D chiplot of an azimuthally integrated image: 1000 points over the
    overview range, mean counts per pixel (not integers)."""
    n = 1000
    step = (OVERVIEW.stop - OVERVIEW.start) / (n - 1)
    lines = [
        "corundum_0001.tif: Azimuthal integration (synthetic example)",
        "2-Theta Angle (Degrees)",
        "Intensity",
        f"{n:10d}",
    ]
    for i in range(n):
        a = OVERVIEW.start + step * i
        mean = expected_counts(a, 0.6)
        value = sum(counting_noise(rng, mean) for _ in range(4)) / 4
        lines.append(f" {a:14.7E} {value:14.7E}")
    return "\n".join(lines) + "\n"


def ras(data):
    """Rigaku RAS (SmartLab): a header and an intensity block per scan, CR LF
    line ends, with the attenuator factor as third column."""
    out = ["*RAS_DATA_START"]
    for number, (scan, (x, y)) in enumerate(zip(SCANS, data)):
        speed = 60 * scan.step / scan.time
        out += [
            "*RAS_HEADER_START",
            '*FILE_COMMENT "synthetic example written by make_examples.py"',
            '*FILE_OPERATOR "difrax"',
            '*FILE_SAMPLE "Corundum (synthetic)"',
            '*FILE_TYPE "RAS_RAW"',
            '*FILE_VERSION "1"',
            '*HW_XG_TARGET_NAME "Cu"',
            '*HW_XG_VOLTAGE "40"',
            '*HW_XG_CURRENT "30"',
            f'*HW_XG_WAVE_LENGTH_ALPHA1 "{LAMBDA1}"',
            f'*HW_XG_WAVE_LENGTH_ALPHA2 "{LAMBDA2}"',
            '*MEAS_COND_AXIS_NAME-0 "TwoThetaOmega"',
            f'*MEAS_DATA_COUNT "{scan.points}.0000000000"',
            '*MEAS_SCAN_AXIS_X "TwoThetaOmega"',
            '*MEAS_SCAN_MODE "CONTINUOUS"',
            f'*MEAS_SCAN_SPEED "{speed:.4f}"',
            '*MEAS_SCAN_SPEED_UNIT "deg/min"',
            f'*MEAS_SCAN_START "{scan.start:.4f}"',
            f'*MEAS_SCAN_STEP "{scan.step:.4f}"',
            f'*MEAS_SCAN_STOP "{scan.stop:.4f}"',
            '*MEAS_SCAN_UNIT_X "deg"',
            '*MEAS_SCAN_UNIT_Y "counts"',
            f'*MEAS_SCAN_START_TIME "05/17/24 10:{12 + 40 * number:02d}:03"',
            "*RAS_HEADER_END",
            "*RAS_INT_START",
        ]
        out += [f"{a:.4f} {c}.0000 1.0000" for a, c in zip(x, y)]
        out.append("*RAS_INT_END")
    out.append("*RAS_DATA_END")
    return "\r\n".join(out) + "\r\n"


def uxd(data):
    """Bruker UXD (DIFFRAC plus export): the overview as a counts-only block
    whose angles follow from _START and _STEPSIZE, the detail scan with
    angle/count rows."""
    (x0, y0), (x1, y1) = data
    out = [
        "; Corundum (synthetic).raw - synthetic example written by make_examples.py",
        ";",
        "; (C) DIFFRAC plus UXD export",
        "_FILEVERSION=2",
        "_SAMPLE='Corundum (synthetic)'",
        "_SITE='difrax examples'",
        "_WL1=1.540600",
        "_WL2=1.544390",
        f"_WLRATIO={ALPHA2_RATIO:.6f}",
        "",
        "; (Data for Range number 1)",
        "_DRIVE='COUPLED'",
        f"_STEPTIME={OVERVIEW.time:.6f}",
        f"_STEPSIZE={OVERVIEW.step:.6f}",
        "_STEPMODE='C'",
        f"_START={OVERVIEW.start:.6f}",
        f"_2THETA={OVERVIEW.start:.6f}",
        f"_THETA={OVERVIEW.start / 2:.6f}",
        "_COUNTS",
    ]
    for i in range(0, len(y0), 8):
        out.append("".join(f"{c:10d}" for c in y0[i : i + 8]))
    out += [
        "",
        "; (Data for Range number 2)",
        "_DRIVE='COUPLED'",
        f"_STEPTIME={DETAIL.time:.6f}",
        f"_STEPSIZE={DETAIL.step:.6f}",
        "_STEPMODE='C'",
        f"_START={DETAIL.start:.6f}",
        "_2THETACOUNTS",
    ]
    out += [f"{a:10.4f}{c:10d}" for a, c in zip(x1, y1)]
    return "\r\n".join(out) + "\r\n"


def gsas(data):
    """GSAS raw file: 80-column records, angles in centidegrees. Bank 1 holds
    the overview as STD records (ten I2,F6.0 fields), bank 2 the detail scan
    as ESD records (five intensity/esd pairs of F8.2)."""
    (x0, y0), (x1, y1) = data
    out = [
        "Corundum (synthetic), Cu K-alpha, written by make_examples.py",
        "Instrument parameter file: lab_cu.prm",
    ]
    records = (len(y0) + 9) // 10
    out.append(
        f"BANK 1 {len(y0)} {records} CONST {OVERVIEW.start * 100:.2f} {OVERVIEW.step * 100:.2f} 0 0 STD"
    )
    for i in range(0, len(y0), 10):
        out.append("".join(f"  {c:5d}." for c in y0[i : i + 10]))
    records = (len(y1) + 4) // 5
    out.append(
        f"BANK 2 {len(y1)} {records} CONST {DETAIL.start * 100:.2f} {DETAIL.step * 100:.2f} 0 0 ESD"
    )
    for i in range(0, len(y1), 5):
        out.append("".join(f"{c:8.2f}{math.sqrt(max(c, 1)):8.2f}" for c in y1[i : i + 5]))
    return "".join(line.ljust(80) + "\r\n" for line in out)


def pdcif(data):
    """Powder CIF: a publication block without a profile, the overview with
    its axis given as a range and the counts in a loop, and the detail scan
    with angles and counts in one loop."""
    (x0, y0), (x1, y1) = data
    out = [
        "#\\#CIF_1.1",
        "# Corundum-like powder pattern, synthetic; written by make_examples.py",
        "",
        "data_corundum_publ",
        "_audit_creation_method  'synthetic example (difrax make_examples.py)'",
        "_publ_section_title",
        ";",
        " Corundum-like powder pattern with counting noise, Cu K-alpha",
        ";",
        "loop_",
        " _publ_author_name",
        " 'difrax examples'",
        "",
        "data_corundum_overview",
        "_pd_block_id  2024-05-17T10:12|CORUNDUM_OVERVIEW|difrax",
        "_diffrn_radiation_type  'Cu K\\a'",
        f"_diffrn_radiation_wavelength  {LAMBDA1}",
        "_pd_meas_scan_method  step",
        f"_pd_meas_number_of_points  {len(y0)}",
        f"_pd_meas_2theta_range_min  {OVERVIEW.start:.2f}",
        f"_pd_meas_2theta_range_max  {OVERVIEW.stop:.2f}",
        f"_pd_meas_2theta_range_inc  {OVERVIEW.step:.2f}",
        f"_pd_meas_step_count_time  {OVERVIEW.time:.1f}",
        "loop_",
        " _pd_meas_counts_total",
    ]
    out += [f" {c}" for c in y0]
    out += [
        "",
        "data_corundum_detail",
        "_pd_block_id  2024-05-17T10:52|CORUNDUM_DETAIL|difrax",
        f"_diffrn_radiation_wavelength  {LAMBDA1}",
        f"_pd_meas_number_of_points  {len(y1)}",
        f"_pd_meas_step_count_time  {DETAIL.time:.1f}",
        "loop_",
        " _pd_meas_2theta_scan",
        " _pd_meas_counts_total",
    ]
    out += [f" {a:8.3f}  {c}" for a, c in zip(x1, y1)]
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------------------
# Bruker RAW


def raw3(data):
    """RAW3 ("RAW1.01"): a 712-byte file header, then per range a 304-byte
    range header (start, step, scan type 0 = locked coupled), no extra record
    and one float32 intensity per step."""
    out = bytearray(712)
    out[0:7] = b"RAW1.01"
    struct.pack_into("<I", out, 12, len(data))
    for scan, (_, y) in zip(SCANS, data):
        header = bytearray(304)
        struct.pack_into("<II", header, 0, 304, len(y))
        struct.pack_into("<d", header, 16, scan.start)
        struct.pack_into("<d", header, 176, scan.step)
        struct.pack_into("<I", header, 196, 0)
        struct.pack_into("<III", header, 248, 0, 4, 0)
        out += header + struct.pack(f"<{len(y)}f", *y)
    return bytes(out)


def raw4(data):
    """RAW4 ("RAW4.00"): a 61-byte file header, a comment segment, then per
    range a 160-byte range header with two drive records (Theta and 2Theta,
    both scanned; 2Theta starts where the range starts) and the float32
    intensities."""
    out = bytearray(61)
    out[0:7] = b"RAW4.00"
    comment = b"Corundum (synthetic) - make_examples.py".ljust(48, b"\0")
    out += struct.pack("<II", 10, 8 + len(comment)) + comment
    for scan, (_, y) in zip(SCANS, data):
        drives = bytearray()
        for name, start in (("Theta", scan.start / 2), ("2Theta", scan.start)):
            record = bytearray(64)
            struct.pack_into("<III", record, 0, 50, 64, 1)
            record[12:36] = name.encode("latin-1").ljust(24, b"\0")
            struct.pack_into("<d", record, 56, start)
            drives += record
        header = bytearray(160)
        header[32:56] = b"Locked Coupled".ljust(24, b"\0")
        struct.pack_into("<ddI", header, 72, scan.start, scan.step, len(y))
        struct.pack_into("<II", header, 136, 4, len(drives))
        out += header + drives + struct.pack(f"<{len(y)}f", *y)
    return bytes(out)


# ---------------------------------------------------------------------------
# XML and containers

XRDML_NS = "http://www.xrdml.com/XRDMeasurement/2.1"


def xrdml(data):
    """PANalytical XRDML 2.1: one measurement with two Gonio scans, the 2Theta
    axis given by its start and end position, raw counts."""
    scans = []
    for number, (scan, (_, y)) in enumerate(zip(SCANS, data)):
        counts = " ".join(str(c) for c in y)
        scans.append(
            f"""    <scan appendNumber="{number}" mode="Continuous" scanAxis="Gonio" status="Completed">
      <header>
        <startTimeStamp>2024-05-17T10:{12 + 40 * number:02d}:03+02:00</startTimeStamp>
        <author>difrax</author>
        <source>
          <applicationSoftware version="5.5">Data Collector</applicationSoftware>
        </source>
      </header>
      <dataPoints>
        <positions axis="2Theta" unit="deg">
          <startPosition>{scan.start:.6f}</startPosition>
          <endPosition>{scan.stop:.6f}</endPosition>
        </positions>
        <positions axis="Omega" unit="deg">
          <startPosition>{scan.start / 2:.6f}</startPosition>
          <endPosition>{scan.stop / 2:.6f}</endPosition>
        </positions>
        <commonCountingTime unit="seconds">{scan.time:.2f}</commonCountingTime>
        <counts unit="counts">{counts}</counts>
      </dataPoints>
    </scan>
"""
        )
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<xrdMeasurements xmlns="{XRDML_NS}" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" \
xsi:schemaLocation="{XRDML_NS} http://www.xrdml.com/XRDMeasurement/2.1/XRDMeasurement.xsd" status="Completed">
  <comment>
    <entry>Synthetic corundum-like pattern written by make_examples.py</entry>
  </comment>
  <sample type="To be analyzed">
    <id>corundum</id>
    <name>Corundum (synthetic)</name>
  </sample>
  <xrdMeasurement measurementType="Scan" status="Completed" sampleMode="Reflection">
    <usedWavelength intended="K-Alpha 1">
      <kAlpha1 unit="Angstrom">{LAMBDA1}</kAlpha1>
      <kAlpha2 unit="Angstrom">{LAMBDA2}</kAlpha2>
      <ratioKAlpha2KAlpha1 unit="None">{ALPHA2_RATIO}</ratioKAlpha2KAlpha1>
    </usedWavelength>
    <incidentBeamPath>
      <xRayTube id="1" name="Cu LFF">
        <tension unit="kV">45</tension>
        <current unit="mA">40</current>
        <anodeMaterial>Cu</anodeMaterial>
      </xRayTube>
    </incidentBeamPath>
{"".join(scans)}  </xrdMeasurement>
</xrdMeasurements>
"""


def zip_archive(members):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, content in members:
            # A fixed time stamp keeps the archive the same from run to run.
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 17, 10, 12, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, content)
    return buffer.getvalue()


def brml(data):
    """Bruker BRML (DIFFRAC.SUITE): a ZIP container whose DataContainer.xml
    lists one raw data document per range. Each Datum is a comma-separated
    record: time and measured flag, 2theta and theta (the varying view), and
    the counts (the recorded view)."""
    names = [f"Experiment0/RawData{i}.xml" for i in range(len(data))]
    listed = "\n".join(f"    <string>{name}</string>" for name in names)
    container = f"""<?xml version="1.0" encoding="utf-8"?>
<DataContainer xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">
  <RawDataReferenceList>
{listed}
  </RawDataReferenceList>
</DataContainer>
"""
    members = [("Experiment0/DataContainer.xml", container)]
    for name, scan, (x, y) in zip(names, SCANS, data):
        records = "\n".join(
            f"        <Datum>{scan.time:g},1,{a:.4f},{a / 2:.4f},{c}</Datum>" for a, c in zip(x, y)
        )
        raw = f"""<?xml version="1.0" encoding="utf-8"?>
<RawData xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">
  <Identifier>{name}</Identifier>
  <DataRoutes>
    <DataRoute RouteFlag="Measured">
      <ScanInformation ScanName="{scan.name}" VisibleName="Coupled TwoTheta/Theta">
        <ScanMode>Continuous</ScanMode>
        <TimePerStep>{scan.time:g}</TimePerStep>
        <MeasurementPoints>{scan.points}</MeasurementPoints>
      </ScanInformation>
      <DataViews>
        <RawDataView xsi:type="FixedRawDataView" Start="0" Length="2" />
        <RawDataView xsi:type="VaryingRawDataView" Start="2" Length="2">
          <FieldDefinitions xsi:type="ScanAxisFieldDefinition" AxisId="TwoTheta" Unit="Degree" />
          <FieldDefinitions xsi:type="ScanAxisFieldDefinition" AxisId="Theta" Unit="Degree" />
        </RawDataView>
        <RawDataView xsi:type="RecordedRawDataView" Start="4" Length="1" LogicName="Counter1D" />
      </DataViews>
      <Data>
{records}
      </Data>
    </DataRoute>
  </DataRoutes>
</RawData>
"""
        members.append((name, raw))
    members.append(("Experiment0/MeasurementContainer.xml", "<MeasurementContainer />\n"))
    return zip_archive(members)


def rasx(data):
    """Rigaku RASX (SmartLab Studio II): a ZIP container whose root.xml lists
    the data folders; each holds a tab-separated profile (2theta, counts,
    attenuator factor) and its measurement conditions."""
    folders = []
    members = []
    for number, (scan, (x, y)) in enumerate(zip(SCANS, data)):
        folder = f"Data{number}"
        folders.append(
            f"""  <{folder} Type="Profile">
    <ContentHashList Name="Profile{number}.txt" Hash="" />
    <ContentHashList Name="MesurementConditions{number}.xml" Hash="" />
  </{folder}>"""
        )
        conditions = f"""<?xml version="1.0" encoding="utf-8"?>
<MeasurementConditions>
  <GeneralInformation>
    <SampleName>Corundum (synthetic)</SampleName>
  </GeneralInformation>
  <ScanInformation>
    <AxisName>TwoThetaTheta</AxisName>
    <Mode>Continuous</Mode>
    <Start>{scan.start:.4f}</Start>
    <Stop>{scan.stop:.4f}</Stop>
    <Step>{scan.step:.4f}</Step>
    <Speed>{60 * scan.step / scan.time:.4f}</Speed>
    <Unit>deg</Unit>
    <IntensityUnit>cps</IntensityUnit>
  </ScanInformation>
</MeasurementConditions>
"""
        profile = "".join(f"{a:.4f}\t{c}\t1\r\n" for a, c in zip(x, y))
        members += [
            (f"{folder}/Profile{number}.txt", "\ufeff" + profile),
            (f"{folder}/MesurementConditions{number}.xml", conditions),
        ]
    root = '<?xml version="1.0" encoding="utf-8"?>\n<Root>\n' + "\n".join(folders) + "\n</Root>\n"
    return zip_archive([("root.xml", root)] + members)


# ---------------------------------------------------------------------------


def main(folder):
    rng = random.Random(SEED)
    data = [measure(rng, scan) for scan in SCANS]
    files = {
        "corundum.chi": chi(rng),
        "corundum.ras": ras(data),
        "corundum.uxd": uxd(data),
        "corundum.gsa": gsas(data),
        "corundum.cif": pdcif(data),
        "corundum-raw3.raw": raw3(data),
        "corundum-raw4.raw": raw4(data),
        "corundum.xrdml": xrdml(data),
        "corundum.brml": brml(data),
        "corundum.rasx": rasx(data),
    }
    folder.mkdir(parents=True, exist_ok=True)
    for name, content in files.items():
        path = folder / name
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        print(f"{path} ({path.stat().st_size} bytes)")


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent)
