"""End-to-end loads of PANalytical XRDML documents through read_bytes."""

import pytest

import difrax
from conftest import corpus_files

NS = "http://www.xrdml.com/XRDMeasurement/2.1"


def scan(axis, start, end, counts, factors=None, tag="counts"):
    """One scan with Omega and 2Theta positions and its intensity list."""
    attenuation = "" if factors is None else f"<x:beamAttenuationFactors>{factors}</x:beamAttenuationFactors>"
    return f"""
    <x:scan appendNumber="0" mode="Continuous" scanAxis="{axis}" status="Completed">
      <x:header><x:startTimeStamp>2021-03-04T10:00:00+01:00</x:startTimeStamp></x:header>
      <x:dataPoints>
        <x:positions axis="2Theta" unit="deg">
          <x:startPosition>{start}</x:startPosition>
          <x:endPosition>{end}</x:endPosition>
        </x:positions>
        <x:positions axis="Omega" unit="deg">
          <x:startPosition>{start / 2}</x:startPosition>
          <x:endPosition>{end / 2}</x:endPosition>
        </x:positions>
        <x:commonCountingTime unit="seconds">0.5</x:commonCountingTime>
        {attenuation}
        <x:{tag} unit="counts">{counts}</x:{tag}>
      </x:dataPoints>
    </x:scan>"""


def measurement(*scans):
    return f"""
  <x:xrdMeasurement measurementType="Repeated scan" status="Completed" sampleMode="Reflection">
    <x:comment><x:entry>Cu tube &amp; Ni filter</x:entry></x:comment>
    <x:usedWavelength intended="K-Alpha 1"><x:kAlpha1 unit="Angstrom">1.5405980</x:kAlpha1></x:usedWavelength>
    {"".join(scans)}
  </x:xrdMeasurement>"""


FIRST = measurement(
    scan("Gonio", 10.0, 12.0, "100 200 300 400 500", factors="1 1 10 10 1"),
    scan("Omega", 1.0, 2.0, "5 6"),
)
SECOND = measurement(
    scan("2Theta-Omega", 30.0, 20.0, "1\n2\n3", tag="intensities", factors="2 2 2"),
    scan("Omega-2Theta", 40.0, 41.0, "\t7 8 "),
)

DOCUMENT = f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- written by the Data Collector -->
<x:xrdMeasurements xmlns:x="{NS}" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
    xsi:schemaLocation="{NS} http://www.xrdml.com/XRDMeasurement/2.1/XRDMeasurement.xsd" status="Completed">
  <x:sample type="To be analyzed"><x:id>S-1</x:id></x:sample>
  {FIRST}
  {SECOND}
</x:xrdMeasurements>
""".encode()


@pytest.mark.parametrize(
    "index, x, y",
    [
        (0, [10.0, 10.5, 11.0, 11.5, 12.0], [100.0, 200.0, 3000.0, 4000.0, 500.0]),
        (2, [20.0, 25.0, 30.0], [3.0, 2.0, 1.0]),
        (3, [40.0, 41.0], [7.0, 8.0]),
    ],
)
def test_scans_over_measurements(index, x, y):
    pattern = difrax.read_bytes(DOCUMENT, "run.xrdml", index=index)
    assert (pattern.x, pattern.y) == (x, y)


def test_content_decides_over_the_name():
    assert difrax.read_bytes(DOCUMENT, "export.txt").y == difrax.read_bytes(DOCUMENT, "a.xrdml").y
    utf16 = DOCUMENT.decode().replace('encoding="UTF-8"', 'encoding="UTF-16"').encode("utf-16")
    assert difrax.read_bytes(utf16, "run.xrdml", index=3).x == [40.0, 41.0]


@pytest.mark.parametrize(
    "data, index, message",
    [
        (DOCUMENT, 1, 'XRDML scan axis "Omega" is not 2theta'),
        (DOCUMENT, 4, "scan 4 is out of range (4 scans)"),
        (DOCUMENT.replace(b"1 1 10 10 1", b"1 1 0 10 1"), 0,
         "XRDML attenuation factors must be positive and match intensity length"),
        (DOCUMENT.replace(b"300 400", b"300 x400"), 0, 'invalid numeric value "x400"'),
        (DOCUMENT.replace(b"&amp;", b"&nbsp;"), 0, "XML entity: "),
        (DOCUMENT.replace(b"<!-- written", b"<!DOCTYPE x:xrdMeasurements>\n<!-- written"), 0,
         "XML document type declarations are not supported"),
        (DOCUMENT[:-40], 0, "truncated XML document"),
    ],
)
def test_refusals(data, index, message):
    with pytest.raises(ValueError) as info:
        difrax.read_bytes(data, "run.xrdml", index=index)
    assert str(info.value).startswith("Parse error: " + message)


@pytest.mark.parametrize("path", corpus_files("xrdml"), ids=lambda p: p.name)
def test_corpus_reads_or_names_the_axis(path):
    try:
        pattern = difrax.read(str(path))
    except ValueError as error:
        assert str(error) == 'Parse error: XRDML scan axis "Phi" is not 2theta'
        return
    assert len(pattern.x) == len(pattern.y) > 100
    assert all(a < b for a, b in zip(pattern.x, pattern.x[1:]))
