"""End-to-end loads of BRML and RASX containers built with zipfile."""

import io
import zipfile

import pytest

import difrax
from conftest import corpus_files


def archive(members, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as z:
        for name, content in members:
            z.writestr(name, content)
    return buffer.getvalue()


def raw_data(records):
    data = "".join(f"<Datum>1,1,{x},{x / 2},{y}</Datum>" for x, y in records)
    return (
        '<RawData xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><DataRoutes>'
        f'<DataRoute RouteFlag="Measured">{data}<DataViews>'
        '<RawDataView xsi:type="FixedRawDataView" Start="0" Length="2"/>'
        '<RawDataView xsi:type="VaryingRawDataView" Start="2" Length="2">'
        '<FieldDefinitions AxisId="TwoTheta"/><FieldDefinitions AxisId="Theta"/></RawDataView>'
        '<RawDataView xsi:type="RecordedRawDataView" Start="4" Length="1"/>'
        "</DataViews></DataRoute></DataRoutes></RawData>"
    )


def brml(*scans, method=zipfile.ZIP_DEFLATED):
    names = [f"Experiment0/RawData{i}.xml" for i in range(len(scans))]
    listed = "".join(f"<string>{name}</string>" for name in names)
    container = f"<DataContainer><RawDataReferenceList>{listed}</RawDataReferenceList></DataContainer>"
    members = [("Experiment0/DataContainer.xml", container)]
    members += [(name, raw_data(records)) for name, records in zip(names, scans)]
    return archive(members, method)


def rasx(profile, axis="TwoThetaTheta", method=zipfile.ZIP_DEFLATED):
    root = (
        '<Root><Data0 Type="Profile"><ContentHashList Name="Profile0.txt"/>'
        '<ContentHashList Name="MesurementConditions0.xml"/></Data0></Root>'
    )
    conditions = f"<Conditions><ScanInformation><AxisName>{axis}</AxisName></ScanInformation></Conditions>"
    return archive(
        [("Data0/Profile0.txt", profile), ("Data0/MesurementConditions0.xml", conditions), ("root.xml", root)],
        method,
    )


@pytest.mark.parametrize("method", [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED])
def test_brml_scans_by_index(method):
    data = brml([(10.0, 5), (10.5, 7)], [(30.5, 1), (30.0, 2)], method=method)
    first = difrax.read_bytes(data, "")
    assert (first.x, first.y) == ([10.0, 10.5], [5.0, 7.0])
    second = difrax.read_bytes(data, "scan.brml", index=1)
    assert (second.x, second.y) == ([30.0, 30.5], [2.0, 1.0])
    with pytest.raises(ValueError, match=r"^Parse error: scan 2 is out of range \(2 scans\)$"):
        difrax.read_bytes(data, "", index=2)


@pytest.mark.parametrize("method", [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED])
def test_rasx_profile(method):
    pattern = difrax.read_bytes(rasx("\ufeff8.5\t591\t1\r\n\r\n8.51\t609\t1\r\n", method=method), "")
    assert (pattern.x, pattern.y) == ([8.5, 8.51], [591.0, 609.0])


@pytest.mark.parametrize(
    "data, error, message",
    [
        (rasx("10 1", axis="Omega"), ValueError, 'Parse error: scan axis "Omega" is not a supported 2theta scan'),
        (rasx("10 1\n11\n"), ValueError, "Parse error: RASX missing intensity"),
        (archive([("root.xml", '<Root><Data0><ContentHashList Name="P.txt"/></Data0></Root>')]), ValueError,
         "File not found in archive: Data0/P.txt"),
        (brml([]), ValueError, "Parse error: pattern contains no points"),
    ],
)
def test_refusals(data, error, message):
    with pytest.raises(error) as info:
        difrax.read_bytes(data, "")
    assert str(info.value) == message


def test_damaged_archives():
    data = bytearray(rasx("10 1\n11 2\n", method=zipfile.ZIP_STORED))
    data[data.index(b"10 1")] = ord("9")  # the stored profile no longer matches its CRC-32
    with pytest.raises(OSError):
        difrax.read_bytes(bytes(data), "")
    with pytest.raises(ValueError, match=r"^Zip error: "):
        difrax.read_bytes(b"PK\x03\x04" + bytes(100), "")


@pytest.mark.parametrize("path", corpus_files("brml") + corpus_files("rasx"), ids=lambda p: p.name)
def test_corpus_containers(path):
    pattern = difrax.read(str(path))
    assert len(pattern.x) > 100
    assert all(a < b for a, b in zip(pattern.x, pattern.x[1:]))
