#!/usr/bin/env python3
"""Writes the benchmark inputs: large, realistic diffraction patterns in every
format difrax reads.

    python bench/generate.py OUTDIR

Every pattern is the same kind of measurement: a Cu K-alpha powder scan from
5 degrees 2theta with a decaying background, an amorphous hump and some forty
pseudo-Voigt reflections whose widths grow with angle, sampled with Poisson
counting noise from a fixed seed, so two runs write identical files. Numbers
are written the way the instruments and programs that produce each format
write them (fixed decimals, Fortran exponents, fixed-width GSAS records,
uncertainties in CIF, attenuated XRDML counts, little-endian binary records).

OUTDIR also gets manifest.tsv, one line per file: label, format, points, file
name, target group (xy, text, raw, xml). bench/run.py and the C++ driver read
it. The files are large (about 130 MB in all) and belong in a temporary
folder, never in the repository.

Pure Python and the standard library only.
"""

from __future__ import annotations

import argparse
import hashlib
import io
import math
import os
import random
import struct
import sys
import time
import zipfile

SEED = 20240611
START = 5.0          # first angle, degrees 2theta
SPAN = 100.0         # n points cover [START, START + SPAN)

# ---------------------------------------------------------------------------
# The measurement model


class Scan:
    """One sampled pattern: n points from START in steps of SPAN / n."""

    def __init__(self, n: int, expected: list[float], counts: list[int]):
        self.n = n
        self.step = SPAN / n
        self.expected = expected
        self.counts = counts

    def angle(self, i: int) -> float:
        return START + self.step * i

    @property
    def decimals(self) -> int:
        # Enough decimals to write every angle exactly, at least four.
        return max(4, math.ceil(-math.log10(self.step) - 1e-9))

    def angles(self) -> list[str]:
        fmt = "%.{}f".format(self.decimals)
        s, d = START, self.step
        return [fmt % (s + d * i) for i in range(self.n)]


def _reflections(rng: random.Random) -> list[tuple[float, float]]:
    """Positions and heights of the reflections: a few strong lines, many weak
    ones, intensity falling off at high angle."""
    out = []
    for _ in range(42):
        pos = rng.uniform(9.0, START + SPAN - 3.0)
        height = 60.0 + 42000.0 * rng.random() ** 3 * math.exp(-pos / 90.0)
        out.append((pos, height))
    out.sort()
    return out


def _fwhm(two_theta: float) -> float:
    """Caglioti width in degrees: sqrt(U tan^2 + V tan + W)."""
    t = math.tan(math.radians(two_theta / 2.0))
    return math.sqrt(0.0045 * t * t - 0.0020 * t + 0.0030)


def _poisson(rng: random.Random, lam: float) -> int:
    if lam < 40.0:
        # Inversion by sequential search: exact for small means.
        u = rng.random()
        k, p = 0, math.exp(-lam)
        c = p
        while u > c and k < 400:
            k += 1
            p *= lam / k
            c += p
        return k
    return max(0, int(round(rng.gauss(lam, math.sqrt(lam)))))


_SCANS: dict[int, Scan] = {}


def scan(n: int) -> Scan:
    """The pattern of n points (computed once per size)."""
    if n in _SCANS:
        return _SCANS[n]
    rng = random.Random(SEED)
    peaks = _reflections(rng)
    step = SPAN / n
    exp = math.exp
    # Background: air scatter falling off at low angle, a slope, an amorphous
    # hump around 24 degrees.
    lam = [
        140.0 + 2600.0 * exp(-(START + step * i) / 6.0) + 0.35 * (START + step * i)
        + 220.0 * exp(-(((START + step * i) - 24.0) / 7.0) ** 2)
        for i in range(n)
    ]
    four_ln2 = 4.0 * math.log(2.0)
    eta = 0.55
    for pos, height in peaks:
        w = _fwhm(pos)
        for line_pos, line_height in ((pos, height), (_k_alpha2(pos), 0.5 * height)):
            lo = max(0, int((line_pos - 25.0 * w - START) / step))
            hi = min(n, int((line_pos + 25.0 * w - START) / step) + 1)
            inv_w2 = 1.0 / (w * w)
            for i in range(lo, hi):
                d2 = (START + step * i - line_pos) ** 2 * inv_w2
                lam[i] += line_height * (eta / (1.0 + 4.0 * d2) + (1.0 - eta) * exp(-four_ln2 * d2))
    noise = random.Random(SEED + n)
    counts = [_poisson(noise, v) for v in lam]
    s = Scan(n, lam, counts)
    _SCANS[n] = s
    return s


def _k_alpha2(two_theta: float) -> float:
    """Position of the K-alpha-2 line of a K-alpha-1 reflection (Cu)."""
    ratio = 1.544426 / 1.540593
    s = min(1.0, math.sin(math.radians(two_theta / 2.0)) * ratio)
    return 2.0 * math.degrees(math.asin(s))


# ---------------------------------------------------------------------------
# Writers. Each returns the bytes of one file.


def write_xy(s: Scan) -> bytes:
    # Diffractometer software export: a comment header, then angle and counts
    # separated by a blank.
    head = [
        "# difrax benchmark pattern: synthetic Cu Ka1/Ka2 powder scan, seed %d" % SEED,
        "# 2theta(deg) intensity(counts)",
    ]
    rows = ["%s %d" % (a, c) for a, c in zip(s.angles(), s.counts)]
    return ("\n".join(head + rows) + "\n").encode("ascii")


def write_pdcif(s: Scan) -> bytes:
    # Measured powder profile as a two-column loop; one count in ten carries
    # its standard uncertainty in parentheses, as refinement programs write it.
    rng = random.Random(SEED + 7 * s.n)
    head = [
        "data_bench_%d" % s.n,
        "_audit_creation_method           'difrax benchmark generator'",
        "_pd_block_id                     'bench|synthetic|%d'" % s.n,
        "_diffrn_radiation_type           'Cu K\\a~1~'",
        "_diffrn_radiation_wavelength     1.540593",
        "_pd_meas_scan_method             step",
        "_pd_meas_number_of_points        %d" % s.n,
        "_pd_meas_2theta_range_min        %.4f" % START,
        "_pd_meas_2theta_range_max        %.4f" % s.angle(s.n - 1),
        "_pd_meas_2theta_range_inc        %.6f" % s.step,
        "",
        "loop_",
        "    _pd_meas_2theta_scan",
        "    _pd_meas_counts_total",
    ]
    rows = []
    for a, c in zip(s.angles(), s.counts):
        if rng.random() < 0.1:
            rows.append("  %s  %d(%d)" % (a, c, max(1, round(math.sqrt(c)))))
        else:
            rows.append("  %s  %d" % (a, c))
    return ("\n".join(head + rows) + "\n").encode("ascii")


def write_chi(s: Scan) -> bytes:
    # Fit2D / pyFAI integrated profile: four header lines, then E-format pairs.
    head = [
        "difrax benchmark pattern: synthetic Cu Ka powder ring integration",
        "2-Theta Angle (Degrees)",
        "Intensity",
        "%12d" % s.n,
    ]
    rows = ["  %.6E  %.6E" % (s.angle(i), c) for i, c in enumerate(s.counts)]
    return ("\n".join(head + rows) + "\n").encode("ascii")


def write_ras(s: Scan) -> bytes:
    # Rigaku SmartLab: quoted header values, angle, counts and attenuator
    # factor with four decimals, CR LF line ends.
    stop = s.angle(s.n - 1)
    head = [
        "*RAS_DATA_START",
        "*RAS_HEADER_START",
        '*FILE_COMMENT ""',
        '*FILE_OPERATOR "bench"',
        '*FILE_SAMPLE "synthetic powder"',
        '*FILE_TYPE "RAS_RAW"',
        '*FILE_VERSION "1"',
        '*HW_XG_TARGET_NAME "Cu"',
        '*HW_XG_VOLTAGE "40"',
        '*HW_XG_CURRENT "30"',
        '*HW_XG_WAVE_LENGTH_ALPHA1 "1.540593"',
        '*HW_XG_WAVE_LENGTH_ALPHA2 "1.544414"',
        '*MEAS_COND_AXIS_NAME-0 "TwoThetaOmega"',
        '*MEAS_COND_AXIS_POSITION-0 "%.4f"' % START,
        '*MEAS_DATA_COUNT "%d"' % s.n,
        '*MEAS_SCAN_AXIS_X "TwoThetaOmega"',
        '*MEAS_SCAN_MODE "CONTINUOUS"',
        '*MEAS_SCAN_SPEED "10.0000"',
        '*MEAS_SCAN_SPEED_UNIT "deg/min"',
        '*MEAS_SCAN_START "%.4f"' % START,
        '*MEAS_SCAN_STEP "%.4f"' % s.step,
        '*MEAS_SCAN_STOP "%.4f"' % stop,
        '*MEAS_SCAN_UNIT_X "deg"',
        '*MEAS_SCAN_UNIT_Y "counts"',
        "*RAS_HEADER_END",
        "*RAS_INT_START",
    ]
    rows = ["%s %.4f 1.0000" % (a, c) for a, c in zip(s.angles(), s.counts)]
    tail = ["*RAS_INT_END", "*RAS_DATA_END"]
    return ("\r\n".join(head + rows + tail) + "\r\n").encode("ascii")


def _uxd_head(s: Scan) -> list[str]:
    return [
        "; difrax benchmark pattern",
        "; synthetic Cu Ka powder scan, seed %d" % SEED,
        "_FILEVERSION=1",
        "_SAMPLE='synthetic powder'",
        "_SITE='bench'",
        "_WL1=1.540600",
        "_WL2=1.544390",
        "_WLRATIO=0.500000",
        "_ANODE='Cu'",
        ";",
        "; (Data for Range number 1)",
        "_DRIVE='COUPLED'",
        "_STEPTIME=1.000000",
        "_STEPSIZE=%.6f" % s.step,
        "_STEPMODE='C'",
        "_START=%.6f" % START,
        "_2THETA=%.6f" % START,
        "_THETA=%.6f" % (START / 2.0),
        "_KHI=0.000000",
        "_PHI=0.000000",
        "_STEPCOUNT=%d" % s.n,
    ]


def write_uxd_two_column(s: Scan) -> bytes:
    # Bruker DIFFRAC export: angle and counts per line, CR LF line ends.
    rows = ["%12s %10d" % (a, c) for a, c in zip(s.angles(), s.counts)]
    return ("\r\n".join(_uxd_head(s) + ["_2THETACOUNTS"] + rows) + "\r\n").encode("ascii")


def write_uxd_counts(s: Scan) -> bytes:
    # Counts only, eight per line; angles follow from _START and _STEPSIZE.
    c = s.counts
    rows = ["".join("%10d" % v for v in c[i:i + 8]) for i in range(0, len(c), 8)]
    return ("\r\n".join(_uxd_head(s) + ["_COUNTS"] + rows) + "\r\n").encode("ascii")


def _gsas_head(s: Scan, records: int, kind: str, binning: str) -> list[str]:
    bank = "BANK 1 %d %d %s %.2f %.4f 0 0 %s" % (s.n, records, binning, START * 100.0, s.step * 100.0, kind)
    return [
        ("difrax benchmark pattern: synthetic Cu Ka powder scan").ljust(80),
        ("Instrument parameter file:bench.prm").ljust(80),
        bank.ljust(80),
    ]


def write_gsas_std(s: Scan) -> bytes:
    # Ten 8-character integer fields per 80-character record; the last record
    # is padded with zero channels.
    c = s.counts + [0] * (-s.n % 10)
    rows = ["".join("%8d" % v for v in c[i:i + 10]) for i in range(0, len(c), 10)]
    return ("\n".join(_gsas_head(s, len(rows), "STD", "CONST") + rows) + "\n").encode("ascii")


def write_gsas_esd(s: Scan) -> bytes:
    # Five intensity/esd pairs of 8-character fields per record.
    vals = []
    for c in s.counts:
        vals.append("%8.1f" % c)
        vals.append("%8.2f" % math.sqrt(max(c, 1)))
    vals += ["%8.1f" % 0.0] * (-len(vals) % 10)
    rows = ["".join(vals[i:i + 10]) for i in range(0, len(vals), 10)]
    return ("\n".join(_gsas_head(s, len(rows), "ESD", "CONST") + rows) + "\n").encode("ascii")


def write_gsas_fxye(s: Scan) -> bytes:
    # Position in centidegrees, intensity and esd, one point per line.
    rows = [
        "%15.4f%15.4f%15.4f" % ((START + s.step * i) * 100.0, c, math.sqrt(max(c, 1)))
        for i, c in enumerate(s.counts)
    ]
    return ("\n".join(_gsas_head(s, s.n, "FXYE", "CONS") + rows) + "\n").encode("ascii")


def write_raw3(s: Scan) -> bytes:
    # RAW1.01: 712-byte file header, one 304-byte range header, f32 counts.
    head = bytearray(712)
    head[0:7] = b"RAW1.01"
    head[8:12] = struct.pack("<I", 2)            # file status: done
    struct.pack_into("<I", head, 12, 1)          # one range
    head[16:26] = b"01/01/24\0\0"
    head[26:36] = b"12:00:00\0\0"
    head[36:48] = b"bench".ljust(72, b"\0")[:12]
    struct.pack_into("<d", head, 616, 1.540600)  # K-alpha 1
    struct.pack_into("<d", head, 624, 1.544390)  # K-alpha 2
    rng = bytearray(304)
    struct.pack_into("<I", rng, 0, 304)          # range header length
    struct.pack_into("<I", rng, 4, s.n)          # points
    struct.pack_into("<d", rng, 8, START / 2.0)  # theta start
    struct.pack_into("<d", rng, 16, START)       # 2theta start
    struct.pack_into("<d", rng, 176, s.step)     # step
    struct.pack_into("<I", rng, 196, 0)          # scan type: locked coupled
    struct.pack_into("<f", rng, 192, 1.0)        # step time
    struct.pack_into("<I", rng, 248, 0)          # no varying parameters
    struct.pack_into("<I", rng, 252, 4)          # record: one f32
    struct.pack_into("<I", rng, 256, 0)          # no extra record
    data = struct.pack("<%df" % s.n, *s.counts)
    return bytes(head) + bytes(rng) + data


def _text24(text: str) -> bytes:
    return text.encode("latin-1").ljust(24, b"\0")[:24]


def write_raw4(s: Scan) -> bytes:
    # RAW4.00: 61-byte header, metadata segments, one range header of type 0
    # with two drive records (2theta scanned from the range start, theta at
    # half of it), then f32 counts.
    out = bytearray(61)
    out[0:7] = b"RAW4.00"
    out[8:12] = struct.pack("<I", 1)
    for seg_type, payload in ((10, b"Bench/Operator\0synthetic\0"), (30, bytes(40)), (60, b"\0" * 24)):
        length = 8 + len(payload)
        out += struct.pack("<II", seg_type, length) + payload
    drives = bytearray()
    for name, scanned, start in (("2Theta", 1, START), ("Theta", 1, START / 2.0)):
        rec = bytearray(80)
        struct.pack_into("<III", rec, 0, 50, 80, scanned)
        rec[12:36] = _text24(name)
        struct.pack_into("<I", rec, 36, 1)
        struct.pack_into("<d", rec, 56, start)
        drives += rec
    rng = bytearray(160)
    struct.pack_into("<I", rng, 0, 0)
    struct.pack_into("<I", rng, 4, 160 + len(drives))
    rng[32:56] = _text24("Locked Coupled")
    struct.pack_into("<d", rng, 72, START)
    struct.pack_into("<d", rng, 80, s.step)
    struct.pack_into("<I", rng, 88, s.n)
    struct.pack_into("<f", rng, 92, 1.0)
    struct.pack_into("<I", rng, 136, 4)
    struct.pack_into("<I", rng, 140, len(drives))
    out += rng + drives
    out += struct.pack("<%df" % s.n, *s.counts)
    return bytes(out)


ATTENUATOR = 11.37     # attenuation factor of the beam attenuator
ATTENUATE_ABOVE = 5000.0


def write_xrdml(s: Scan) -> bytes:
    # PANalytical Data Collector: stepped 2theta and omega axes, raw counts
    # with the beam attenuation factor of every point (the attenuator goes in
    # on the strong reflections).
    factors, counts = [], []
    for c in s.counts:
        if c > ATTENUATE_ABOVE:
            factors.append("%.4f" % ATTENUATOR)
            counts.append(str(int(round(c / ATTENUATOR))))
        else:
            factors.append("1")
            counts.append(str(c))
    stop = s.angle(s.n - 1)
    doc = f"""<?xml version="1.0" encoding="UTF-8"?>
<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="http://www.xrdml.com/XRDMeasurement/1.5 http://www.xrdml.com/XRDMeasurement/1.5/XRDMeasurement.xsd" status="Completed">
	<comment>
		<entry>Configuration=Reflection-Transmission Spinner Stage, Owner=bench</entry>
		<entry>Goniometer=PW3050/60 (Theta/Theta); Minimum step size 2Theta:0.0001; Minimum step size Omega:0.0001</entry>
	</comment>
	<sample type="To be analyzed">
		<id>bench</id>
		<name>synthetic powder</name>
		<preparedBy>bench</preparedBy>
	</sample>
	<xrdMeasurement measurementType="Scan" status="Completed" sampleMode="Reflection">
		<comment>
			<entry>synthetic Cu Ka powder scan, seed {SEED}</entry>
		</comment>
		<usedWavelength intended="K-Alpha 1">
			<kAlpha1 unit="Angstrom">1.5405980</kAlpha1>
			<kAlpha2 unit="Angstrom">1.5444260</kAlpha2>
			<kBeta unit="Angstrom">1.3922500</kBeta>
			<ratioKAlpha2KAlpha1>0.5000</ratioKAlpha2KAlpha1>
		</usedWavelength>
		<incidentBeamPath>
			<xRayTube id="1" name="Cu LFF HR">
				<tension unit="kV">45</tension>
				<current unit="mA">40</current>
				<anodeMaterial>Cu</anodeMaterial>
				<focus type="Line">
					<length unit="mm">12.0</length>
					<width unit="mm">0.4</width>
					<takeOffAngle unit="deg">6.0</takeOffAngle>
				</focus>
			</xRayTube>
		</incidentBeamPath>
		<diffractedBeamPath>
			<detector id="1" name="PIXcel1D" xsi:type="detectorType">
				<phd>
					<lowerLevel unit="%">25.5</lowerLevel>
					<upperLevel unit="%">80.0</upperLevel>
				</phd>
			</detector>
		</diffractedBeamPath>
		<scan appendNumber="0" mode="Continuous" scanAxis="Gonio" status="Completed">
			<header>
				<startTimeStamp>2024-06-11T09:00:00+02:00</startTimeStamp>
				<endTimeStamp>2024-06-11T11:46:40+02:00</endTimeStamp>
				<author>
					<name>bench</name>
				</author>
				<source>
					<applicationSoftware version="5.5">Data Collector</applicationSoftware>
					<instrumentControlSoftware version="5.5">XPERT-PRO</instrumentControlSoftware>
					<instrumentID>0</instrumentID>
				</source>
			</header>
			<dataPoints>
				<positions axis="2Theta" unit="deg">
					<startPosition>{START:.8f}</startPosition>
					<endPosition>{stop:.8f}</endPosition>
				</positions>
				<positions axis="Omega" unit="deg">
					<startPosition>{START / 2:.8f}</startPosition>
					<endPosition>{stop / 2:.8f}</endPosition>
				</positions>
				<commonCountingTime unit="seconds">0.10000</commonCountingTime>
				<beamAttenuationFactors>{" ".join(factors)}</beamAttenuationFactors>
				<counts unit="counts">{" ".join(counts)}</counts>
			</dataPoints>
		</scan>
	</xrdMeasurement>
</xrdMeasurements>
"""
    return doc.encode("utf-8")


def _zip(members: list[tuple[str, bytes]]) -> bytes:
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(2024, 6, 11, 9, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return buf.getvalue()


def write_brml(s: Scan) -> bytes:
    # Bruker DIFFRAC.SUITE container: a data container listing one raw data
    # member whose measured route declares time and step columns, the varying
    # 2theta and theta columns and one recorded counter column. As in the
    # files DIFFRAC.SUITE writes, the Datum records come before the DataViews
    # that say what their columns are.
    container = """<?xml version="1.0" encoding="utf-8"?>
<DataContainer xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">
  <Identifier>8b3e0bd6-3f7d-4b35-9d8c-0f5a2c1e6a01</Identifier>
  <RawDataReferenceList>
    <string>Experiment0/RawData0.xml</string>
  </RawDataReferenceList>
</DataContainer>
"""
    stop = s.angle(s.n - 1)
    head = f"""<?xml version="1.0" encoding="utf-8"?>
<RawData xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">
  <Identifier>5d0f7c1e-2b8a-4e65-8d1c-77a0e3f0b902</Identifier>
  <DataRoutes>
    <DataRoute Version="1" RouteFlag="Measured">
      <ScanInformation ScanName="Coupled TwoTheta/Theta" VisibleName="Coupled TwoTheta/Theta" ScanMode="ContinuousScan">
        <TimePerStep>0.1</TimePerStep>
        <MeasurementPoints>{s.n}</MeasurementPoints>
        <ScanAxes>
          <ScanAxisInfo AxisId="TwoTheta" AxisName="TwoTheta" AxisUnit="Degree">
            <Start>{START}</Start>
            <Stop>{stop:.6f}</Stop>
            <Increment>{s.step:.6f}</Increment>
          </ScanAxisInfo>
          <ScanAxisInfo AxisId="Theta" AxisName="Theta" AxisUnit="Degree">
            <Start>{START / 2}</Start>
            <Stop>{stop / 2:.6f}</Stop>
            <Increment>{s.step / 2:.6f}</Increment>
          </ScanAxisInfo>
        </ScanAxes>
      </ScanInformation>
      <SubScans>
        <SubScanInfo Steps="{s.n}" MeasuredSteps="{s.n}" StartStepNo="0" MeasuredTimePerStep="0.1" PlannedTimePerStep="0.1" />
      </SubScans>
"""
    dec = s.decimals
    rows = [
        "      <Datum>0.1,1,%.*f,%.*f,%d</Datum>" % (dec, START + s.step * i, dec + 1, (START + s.step * i) / 2, c)
        for i, c in enumerate(s.counts)
    ]
    views = """
      <DataViews>
        <RawDataView xsi:type="FixedRawDataView" Start="0" Length="2">
          <Fixed>
            <FieldDefinitions FieldName="MeasureTime" />
            <FieldDefinitions FieldName="TimePerStepEffective" />
          </Fixed>
        </RawDataView>
        <RawDataView xsi:type="VaryingRawDataView" Start="2" Length="2">
          <Varying>
            <FieldDefinitions xsi:type="ScanAxisFieldDefinition" AxisId="TwoTheta" AxisName="TwoTheta" FieldName="TwoTheta" Unit="Degree" />
            <FieldDefinitions xsi:type="ScanAxisFieldDefinition" AxisId="Theta" AxisName="Theta" FieldName="Theta" Unit="Degree" />
          </Varying>
        </RawDataView>
        <RawDataView xsi:type="RecordedRawDataView" Start="4" Length="1">
          <Recording Name="Counter1D" Unit="Counts" />
        </RawDataView>
      </DataViews>
"""
    tail = views + "    </DataRoute>\n  </DataRoutes>\n</RawData>\n"
    raw = (head + "\n".join(rows) + tail).encode("utf-8")
    types = b'<?xml version="1.0" encoding="utf-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="xml" ContentType="application/xml" /></Types>'
    return _zip([
        ("[Content_Types].xml", types),
        ("Experiment0/DataContainer.xml", container.encode("utf-8")),
        ("Experiment0/RawData0.xml", raw),
    ])


def write_rasx(s: Scan) -> bytes:
    # Rigaku SmartLab Studio container: root.xml lists the folder's members,
    # the measurement conditions name the scan axis, the profile holds angle,
    # counts and attenuator factor separated by tabs, CR LF line ends.
    profile = "".join("%s\t%d\t1.0000\r\n" % (a, c) for a, c in zip(s.angles(), s.counts)).encode("ascii")
    stop = s.angle(s.n - 1)
    conditions = f"""<?xml version="1.0" encoding="utf-8"?>
<MeasurementConditions xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">
  <GeneralInformation>
    <SampleName>synthetic powder</SampleName>
    <Operator>bench</Operator>
  </GeneralInformation>
  <HWConfigurations>
    <XrayGenerator>
      <TargetName>Cu</TargetName>
      <WavelengthKalpha1>1.540593</WavelengthKalpha1>
      <WavelengthKalpha2>1.544414</WavelengthKalpha2>
    </XrayGenerator>
  </HWConfigurations>
  <ScanInformation>
    <AxisName>TwoThetaOmega</AxisName>
    <Mode>CONTINUOUS</Mode>
    <Start>{START:.4f}</Start>
    <Stop>{stop:.4f}</Stop>
    <Step>{s.step:.4f}</Step>
    <Speed>10</Speed>
    <Unit>deg</Unit>
    <IntensityUnit>cps</IntensityUnit>
  </ScanInformation>
</MeasurementConditions>
""".encode("utf-8")

    def digest(b: bytes) -> str:
        return hashlib.sha256(b).hexdigest()

    root = f"""<?xml version="1.0" encoding="utf-8"?>
<RasxRoot>
  <Data0>
    <ContentHashList Name="MesurementConditions0.xml" Hash="{digest(conditions)}" />
    <ContentHashList Name="Profile0.txt" Hash="{digest(profile)}" />
  </Data0>
</RasxRoot>
""".encode("utf-8")
    return _zip([
        ("root.xml", root),
        ("Data0/MesurementConditions0.xml", conditions),
        ("Data0/Profile0.txt", profile),
    ])


# label, format, points, file name, writer, target group
FILES = [
    ("XY", "XY", 10_000, "xy_1e4.xy", write_xy, "xy"),
    ("XY", "XY", 100_000, "xy_1e5.xy", write_xy, "xy"),
    ("XY", "XY", 1_000_000, "xy_1e6.xy", write_xy, "xy"),
    ("pdCIF", "pdCIF", 10_000, "pdcif_1e4.cif", write_pdcif, "text"),
    ("pdCIF", "pdCIF", 100_000, "pdcif_1e5.cif", write_pdcif, "text"),
    ("pdCIF", "pdCIF", 1_000_000, "pdcif_1e6.cif", write_pdcif, "text"),
    ("CHI", "CHI", 100_000, "chi_1e5.chi", write_chi, "text"),
    ("RAS", "RAS", 100_000, "ras_1e5.ras", write_ras, "text"),
    ("UXD two-column", "UXD", 100_000, "uxd2_1e5.uxd", write_uxd_two_column, "text"),
    ("UXD counts-only", "UXD", 100_000, "uxdc_1e5.uxd", write_uxd_counts, "text"),
    ("GSAS STD", "GSAS", 100_000, "gsas_std_1e5.gsa", write_gsas_std, "text"),
    ("GSAS ESD", "GSAS", 100_000, "gsas_esd_1e5.gsa", write_gsas_esd, "text"),
    ("GSAS FXYE", "GSAS", 100_000, "gsas_fxye_1e5.fxye", write_gsas_fxye, "text"),
    ("RAW3", "RAW", 1_000_000, "raw3_1e6.raw", write_raw3, "raw"),
    ("RAW4", "RAW", 1_000_000, "raw4_1e6.raw", write_raw4, "raw"),
    ("XRDML", "XRDML", 100_000, "xrdml_1e5.xrdml", write_xrdml, "xml"),
    ("BRML", "BRML", 100_000, "brml_1e5.brml", write_brml, "xml"),
    ("RASX", "RASX", 100_000, "rasx_1e5.rasx", write_rasx, "xml"),
]


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("outdir", help="folder to write into (created if missing)")
    ap.add_argument("--only", default="", help="comma-separated file names to write (default: all)")
    args = ap.parse_args(argv)
    os.makedirs(args.outdir, exist_ok=True)
    only = {f for f in args.only.split(",") if f}
    manifest = ["# label\tformat\tpoints\tfile\tgroup"]
    total = 0
    t0 = time.perf_counter()
    for label, fmt, n, name, writer, group in FILES:
        manifest.append("\t".join((label, fmt, str(n), name, group)))
        if only and name not in only:
            continue
        data = writer(scan(n))
        with open(os.path.join(args.outdir, name), "wb") as f:
            f.write(data)
        total += len(data)
        print("%-22s %9d points %10.2f MB" % (name, n, len(data) / 1e6), file=sys.stderr)
    with open(os.path.join(args.outdir, "manifest.tsv"), "w") as f:
        f.write("\n".join(manifest) + "\n")
    print("wrote %.1f MB in %.1f s to %s" % (total / 1e6, time.perf_counter() - t0, args.outdir), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
