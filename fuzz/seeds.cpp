// Writes the seed corpora of the fuzz targets: RAW files and ZIP containers
// from the test builders, and small synthetic samples of every text and XML
// format. Usage: fuzz_seeds OUTPUT_DIR (one folder per target is made in it);
// fuzz_seeds --hints lists the load target's file-name hints in order.
//
// Each target reads its own leading selector bytes (see the targets), so the
// seeds are written with those bytes in front.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.hpp"
#include "raw_builder.hpp"
#include "zip_builder.hpp"

namespace {

namespace fs = std::filesystem;
namespace raw = difrax::testing::raw;
namespace zip = difrax::testing::zip;

fs::path out_dir;

void write(std::string_view target, std::string_view name, std::string_view bytes) {
    fs::path dir = out_dir / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::uint8_t hint_of(std::string_view name) {
    for (std::size_t i = 0; i < difrax::fuzz::hint_count; ++i)
        if (difrax::fuzz::hints[i] == name) return static_cast<std::uint8_t>(i);
    std::cerr << "no hint " << name << '\n';
    std::exit(1);
}

std::string with(std::initializer_list<std::uint8_t> prefix, std::string_view body) {
    std::string s;
    for (auto b : prefix) s.push_back(static_cast<char>(b));
    s += body;
    return s;
}

// A sample for the load target: once with its own file name, once without
// any, and with index 1 when it holds more than one pattern.
void load_seed(std::string_view name, std::string_view hint, std::string_view body, bool multi = false) {
    const std::uint8_t h = hint_of(hint);
    write("load", std::string(name) + "-hint", with({h, 0}, body));
    write("load", std::string(name) + "-nohint", with({0, 0}, body));
    if (multi) write("load", std::string(name) + "-index1", with({h, 1}, body));
}

std::string utf16le(std::string_view ascii) {
    std::string s = "\xFF\xFE";
    for (char c : ascii) {
        s.push_back(c);
        s.push_back('\0');
    }
    return s;
}

// --- text samples -----------------------------------------------------------

const char* const xy_text = "# 2theta intensity\n10.00 100\n10.02 105.5\n10.04 1.1e2\n10.06, 90\n";
const char* const chi_text =
    "sample.tif: integrated\n2-Theta Angle (Degrees)\nIntensity\n       4\n  1.000000e+01  1.0e+02\n"
    "  1.002000e+01  1.05e+02\n\n  1.004000e+01  1.1e+02\n  1.006000e+01  9.0e+01\n";
const char* const ras_text =
    "*RAS_DATA_START\n*RAS_HEADER_START\n*MEAS_SCAN_AXIS_X \"TwoThetaOmega\"\n*MEAS_DATA_COUNT \"3\"\n"
    "*RAS_HEADER_END\n*RAS_INT_START\n10.00 100 1.0\n10.02 105 1.0\n10.04 110 1.0\n*RAS_INT_END\n"
    "*RAS_HEADER_START\n*MEAS_SCAN_AXIS_X \"2-Theta\"\n*RAS_HEADER_END\n*RAS_INT_START\n20.0 5\n20.1 6\n"
    "*RAS_INT_END\n*RAS_DATA_END\n";
const char* const uxd_text =
    "; Bruker UXD\n_FILEVERSION=1\n_DRIVE='COUPLED'\n_START=10.0\n_STEPSIZE = 0.02\n_COUNTS\n  100 105 110\n"
    "  115\n_2THETACOUNTS\n10.0 100\n10.02 105\n_START=\"20\"\n_STEPSIZE=-0.5\n_CPS\n1.5 2.5 3.5\n";
const char* const gsas_std =
    "Synthetic STD data\nBANK 1 12 2 CONS 1000 5 0 0 STD\n"
    "     100     105     110     115     120     125     130     135     140     145\n"
    "   150.0   155.0       0       0\n"
    "BANK 2 5 1 cons 2000.0 2.5\n1 2 3 4 5\n";
const char* const gsas_esd =
    "Synthetic ESD data\nBANK 1 3 2 CONST 1000 2 0 0 ESD\n   100.0    10.0   105.0    10.2   110.0    10.5\n"
    "# comment\n";
const char* const gsas_fxye =
    "Synthetic FXYE data\nBANK 1 3 3 CONS 1000 2 0 0 FXYE\n1000.0 100 10\n1002.0 105 10.2\n! note\n1004 110 10.5\n";
const char* const cif_range =
    "data_run1\n_pd_meas_2theta_range_min 10.0\n_pd_meas_2theta_range_max 10.04\n"
    "_pd_meas_2theta_range_inc 0.02\nloop_\n_pd_meas_counts_total\n100(10) 105 110\n";
const char* const cif_loop =
    "# powder profile\ndata_global\n_chemical_name 'it's quartz'\n_note\n;\nA text field\n with ; inside\n;\n"
    "save_frame\n_x 1\nsave_\ndata_run2_profile\nloop_\n_pd_proc_2theta_corrected\n_pd_proc_intensity_total\n"
    "_pd_calc_intensity_total\n10.00 100.5(3) 99\n10.02 105.1(3) 104\n10.04 1.10(2)e2 109\n"
    "_pd_proc_2theta_range_min 10\n_pd_proc_2theta_range_inc 0.02\n_pd_proc_2theta_range_max 10.04\n"
    "global_\nstop_\n";
const char* const dif_text = "2theta d I H K L\n10.0 8.8 100 1 0 0\n12.0 7.3 50 1 1 0\n14.0 6.3 20 1 1 1\n";

// --- XML samples ------------------------------------------------------------

const char* const xrdml_stepped =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- synthetic -->\n"
    "<xrdMeasurements xmlns=\"http://www.xrdml.com/XRDMeasurement/1.5\">\n"
    " <xrdMeasurement measurementType=\"Scan\">\n  <scan scanAxis=\"Gonio\" status=\"Completed\">\n"
    "   <dataPoints>\n    <positions axis=\"2Theta\" unit=\"deg\"><startPosition>10.00</startPosition>"
    "<endPosition>10.06</endPosition></positions>\n"
    "    <positions axis=\"Omega\" unit=\"deg\"><commonPosition>5.0</commonPosition></positions>\n"
    "    <beamAttenuationFactors>1 1 2 1</beamAttenuationFactors>\n"
    "    <counts unit=\"counts\">100 105 110 90</counts>\n   </dataPoints>\n  </scan>\n"
    "  <scan scanAxis=\"Omega-2Theta\"><dataPoints><positions axis=\"2Theta\"><listPositions>20 20.5 21"
    "</listPositions></positions><intensities unit=\"cps\">1.5 2.5 3.5</intensities></dataPoints></scan>\n"
    " </xrdMeasurement>\n</xrdMeasurements>\n";
const char* const xrdml_prefixed =
    "<x:xrdMeasurements xmlns:x=\"urn:x\"><x:xrdMeasurement><x:scan><x:dataPoints>"
    "<x:positions x:axis=\"2Theta\" unit=\"&#176;\"><x:commonPosition>12</x:commonPosition></x:positions>"
    "<x:counts>7</x:counts></x:dataPoints></x:scan></x:xrdMeasurement></x:xrdMeasurements>";
const char* const xml_misc =
    "<?xml version=\"1.0\"?><?pi data?><r a=\"1&#9;2\" b='x&amp;y'>1 &lt; 2<!--c--><![CDATA[<&>]]>"
    "<e/><p:q p:k=\"v\">&#65;&#x42;</p:q></r>";
const char* const xml_doctype = "<!DOCTYPE r [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;\">]><r>&b;</r>";

// --- containers -------------------------------------------------------------

std::string brml_container() {
    return "<DataContainer><RawDataReferenceList><string> Experiment0/RawData0.xml </string>"
           "<string>Experiment0/RawData1.xml</string></RawDataReferenceList></DataContainer>";
}

std::string brml_raw(bool measured_flag) {
    std::string flag = measured_flag ? " RouteFlag=\"Measured\"" : "";
    return "<RawData xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><DataRoutes><DataRoute" + flag +
           "><DataViews><RawDataView xsi:type=\"VaryingRawDataView\" Start=\"0\" Length=\"2\"><Recording>"
           "<FieldDefinitions AxisId=\"TwoTheta\" FieldName=\"TwoTheta\"/><FieldDefinitions AxisId=\"Theta\"/>"
           "</Recording></RawDataView><RawDataView xsi:type=\"RecordedRawDataView\" Start=\"2\" Length=\"1\"/>"
           "</DataViews><Datum>10.0,5.0,100</Datum><Datum>10.02,5.01,105</Datum><Datum>10.04,5.02,110</Datum>"
           "</DataRoute></DataRoutes></RawData>";
}

std::string brml_archive(bool deflated) {
    zip::Builder b;
    if (deflated) {
        b.deflated("Experiment0/DataContainer.xml", brml_container());
        b.deflated("Experiment0/RawData0.xml", brml_raw(true));
        b.deflated("Experiment0/RawData1.xml", brml_raw(false));
    } else {
        b.stored("Experiment0/DataContainer.xml", brml_container());
        b.stored("Experiment0/RawData0.xml", brml_raw(true));
        b.stored("Experiment0/RawData1.xml", brml_raw(false));
    }
    return b.bytes();
}

std::string rasx_root() {
    return "<RootElement><Data0><ContentHashList Name=\"Profile0.txt\"/>"
           "<ContentHashList Name=\"MesurementConditions0.xml\"/></Data0>"
           "<Data1><ContentHashList Name=\"PROFILE1.TXT\"/></Data1><DataX/></RootElement>";
}

std::string rasx_archive(bool deflated) {
    const std::string conditions =
        "<MeasurementConditions><ScanInformation><AxisName> TwoThetaTheta </AxisName></ScanInformation>"
        "</MeasurementConditions>";
    zip::Builder b;
    auto add = [&](std::string name, std::string content) {
        if (deflated) b.deflated(std::move(name), content);
        else b.stored(std::move(name), std::move(content));
    };
    add("root.xml", rasx_root());
    add("Data0/MesurementConditions0.xml", conditions);
    add("Data0/Profile0.txt", "10.0 100 1\r\n10.02 105 1\r\n\r\n10.04 110 1\r\n");
    add("Data1/PROFILE1.TXT", utf16le("20 1\n20.5 2\n"));
    return b.bytes();
}

// Archives whose directory or members lie, from the builder's own options.
std::vector<std::pair<std::string, std::string>> lying_archives() {
    std::vector<std::pair<std::string, std::string>> out;
    // One member, written stored or deflated, then its directory entry changed.
    auto lie = [&](std::string name, std::string member, std::string content, bool deflate, auto change) {
        zip::Builder b;
        deflate ? b.deflated(member, content) : b.stored(member, content);
        change(b.last());
        out.emplace_back(std::move(name), b.bytes());
    };
    lie("bad-crc", "root.xml", rasx_root(), true, [](zip::Member& m) { m.crc ^= 1; });
    lie("bad-size", "root.xml", rasx_root(), true, [](zip::Member& m) { m.size = 3; });
    lie("bad-method", "root.xml", rasx_root(), false, [](zip::Member& m) { m.method = 12; });
    lie("encrypted", "Experiment0/DataContainer.xml", brml_container(), false, [](zip::Member& m) { m.flags = 1; });
    lie("bad-local-header", "root.xml", rasx_root(), false, [](zip::Member& m) { m.local_name_length = 200; });
    {
        zip::Builder b;
        b.compressed("Data0/Profile0.txt", zip::deflated_zeros(1u << 22));
        b.stored("root.xml", rasx_root());
        out.emplace_back("zeros-4mib", b.bytes());
    }
    out.emplace_back("empty", zip::Builder().bytes());
    lie("unknown", "readme.txt", "nothing here", false, [](zip::Member&) {});
    return out;
}

// --- RAW files --------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> raw_files() {
    std::vector<std::pair<std::string, std::string>> out;
    out.emplace_back("raw3-one", raw::raw3({raw::Raw3Range{}}));
    {
        raw::Raw3Range angles;
        angles.varying = 1;
        angles.angles = {20.0, 20.5, 21.0};
        raw::Raw3Range other;
        other.scan_type = 3;
        other.varying = 6;
        other.extra_size = 16;
        other.step = -0.01;
        out.emplace_back("raw3-three", raw::raw3({raw::Raw3Range{}, angles, other}) + std::string(8, '\0'));
    }
    {
        raw::Raw4Range coupled;
        coupled.drives = {raw::Drive{}, raw::Drive{.name = "Theta", .scanned = 0, .start = 5.0},
                          raw::Segment{.type = 30, .length = 24}};
        raw::Raw4Range detector;
        detector.type = 160;
        detector.scan_type = "Detector Scan";
        detector.record_size = 8;
        raw::Raw4Range omega;
        omega.scan_type = "Omega";
        omega.drives = {raw::Drive{.name = "Omega", .scanned = 1, .start = 10.0}};
        out.emplace_back("raw4-three", raw::raw4({raw::Segment{.type = 10, .length = 40}, coupled, detector, omega}));
        out.emplace_back("raw4-one", raw::raw4({raw::Raw4Range{}}));
    }
    out.emplace_back("raw2", std::string("RAW2") + std::string(60, '\0'));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--hints") {
        for (std::string_view h : difrax::fuzz::hints) std::cout << (h.empty() ? "-" : h) << '\n';
        return 0;
    }
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds OUTPUT_DIR | fuzz_seeds --hints\n";
        return 2;
    }
    out_dir = argv[1];

    struct Text {
        const char* name;
        const char* hint;
        std::string body;
        bool multi;
    };
    const std::vector<Text> texts = {
        {"xy", "scan.xy", xy_text, false},
        {"xy-utf16", "scan.xy", utf16le("10 1\r\n11 2\r\n"), false},
        {"xy-bom", "scan.txt", std::string("\xEF\xBB\xBF") + "1 2\n3 4\n", false},
        {"chi", "scan.chi", chi_text, false},
        {"ras", "scan.ras", ras_text, true},
        {"uxd", "scan.uxd", uxd_text, true},
        {"gsas-std", "scan.gsa", gsas_std, true},
        {"gsas-esd", "scan.gsas", gsas_esd, false},
        {"gsas-fxye", "scan.fxye", gsas_fxye, false},
        {"cif-range", "scan.cif", cif_range, false},
        {"cif-loop", "scan.cif", cif_loop, false},
        {"dif", "scan.dif", dif_text, false},
        {"xrdml", "scan.xrdml", xrdml_stepped, true},
        {"xrdml-prefixed", "scan.xrdml", xrdml_prefixed, false},
    };
    for (const Text& t : texts) load_seed(t.name, t.hint, t.body, t.multi);
    write("load", "cif-block", with({static_cast<std::uint8_t>(hint_of("scan.cif") | 0xC0), 0}, cif_loop));

    const std::pair<const char*, const char*> banks[] = {{"std", gsas_std}, {"esd", gsas_esd}, {"fxye", gsas_fxye}};
    for (auto [name, g] : banks) {
        write("gsas", std::string(name) + "-0", with({0}, g));
        write("gsas", std::string(name) + "-1", with({1}, g));
    }
    const std::pair<const char*, const char*> cifs[] = {{"range", cif_range}, {"loop", cif_loop}};
    for (auto [name, c] : cifs)
        for (std::uint8_t sel = 0; sel < 4; ++sel)
            write("cif", std::string(name) + "-" + std::to_string(sel), with({sel}, c));
    write("xml", "xrdml-0", with({0}, xrdml_stepped));
    write("xml", "xrdml-1", with({1}, xrdml_stepped));
    write("xml", "xrdml-prefixed", with({0}, xrdml_prefixed));
    write("xml", "misc", with({0}, xml_misc));
    write("xml", "doctype", with({0}, xml_doctype));
    write("xml", "utf16", with({0}, utf16le(xrdml_prefixed)));

    for (auto& [name, bytes] : raw_files()) {
        write("raw", name + "-0", with({0}, bytes));
        write("raw", name + "-1", with({1}, bytes));
        load_seed(name, "scan.raw", bytes, true);
    }

    std::vector<std::pair<std::string, std::string>> archives = {
        {"brml-stored", brml_archive(false)},
        {"brml-deflated", brml_archive(true)},
        {"rasx-stored", rasx_archive(false)},
        {"rasx-deflated", rasx_archive(true)},
    };
    for (auto& [name, bytes] : archives) {
        write("archive", name + "-0", with({0}, bytes));
        write("archive", name + "-1", with({1}, bytes));
        load_seed(name, name.starts_with("brml") ? "scan.brml" : "scan.rasx", bytes, true);
    }
    for (auto& [name, bytes] : lying_archives()) {
        write("archive", name, with({0}, bytes));
        load_seed(name, "scan.rasx", bytes);
    }
    return 0;
}
