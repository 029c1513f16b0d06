// The RASX reader: data folders listed by root.xml, the scan axis of the
// conditions document, and the profile text.
#include "support.hpp"
#include "xml/readers.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;
using Members = std::vector<std::pair<std::string, std::string>>;

std::string folder(std::string_view name, const std::vector<std::string>& files) {
    std::string out = "<" + std::string(name) + " Type=\"Profile\">";
    for (const std::string& file : files) out += "<ContentHashList Name=\"" + file + "\" ContentHash=\"0f\" />";
    return out + "</" + std::string(name) + ">";
}
std::string root(std::string_view folders) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Root Version=\"1.1.0.0\">" + std::string(folders) +
           "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo/></Signature></Root>";
}
std::string conditions(std::string_view scan_information) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><MeasurementConditions><GeneralInformation/>" +
           std::string(scan_information) + "</MeasurementConditions>";
}
std::string scan_axis(std::string_view label) {
    return "<ScanInformation><AxisName>" + std::string(label) + "</AxisName><Mode>CONTINUOUS</Mode></ScanInformation>";
}

std::string rasx(const Members& members) {
    zip::Builder builder;
    for (const auto& [name, content] : members) builder.deflated(name, content);
    return builder.bytes();
}
// One folder with a profile and its conditions, as Rigaku writes it.
std::string single(std::string_view profile, std::string_view scan_information = scan_axis("TwoThetaTheta")) {
    return rasx({{"Data0/Profile0.txt", std::string(profile)},
                 {"Data0/MesurementConditions0.xml", conditions(scan_information)},
                 {"root.xml", root(folder("Data0", {"Profile0.txt", "MesurementConditions0.xml"}))}});
}

std::string read(const std::string& archive, std::uint64_t index = 0) {
    return outcome(parse_rasx(bytes_of(archive), index));
}

TEST(Rasx, FoldersListedByRoot) {
    std::string archive =
        rasx({{"root.xml", root(folder("Data0", {"Profile0.txt"}) + folder("DataX", {"x.txt"}) +
                                folder("data1", {"x.txt"}) + folder("Data", {"x.txt"}) +
                                folder("Data2", {"Conditions2.xml", "Image2.bmp"}) +
                                "<Data3><ContentHashList/><Deeper><ContentHashList Name=\"x.txt\"/></Deeper></Data3>" +
                                folder("Data12", {"n.xml", "PROFILE12.TXT", "O.txt", "MesurementCONDITIONS12.XML"}) +
                                folder("Data4", {"Profile4.txt", "Conditions4.xml"}))},
              {"Data0/Profile0.txt", "1 2"},
              {"Data12/PROFILE12.TXT", "3 4"},
              {"Data12/MesurementCONDITIONS12.XML", conditions(scan_axis("Omega"))}});
    EXPECT_EQ(read(archive, 0), "1:2");
    EXPECT_EQ(read(archive, 1), "Parse error: scan axis \"Omega\" is not a supported 2theta scan");
    EXPECT_EQ(read(archive, 2), "File not found in archive: Data4/Conditions4.xml");
    EXPECT_EQ(read(archive, 3), "Parse error: scan 3 is out of range (3 scans)");
    EXPECT_EQ(read(rasx({{"root.xml", root("")}})), "Parse error: scan 0 is out of range (0 scans)");
    const std::string only_profile = root(folder("Data0", {"Profile0.txt"}));
    EXPECT_EQ(read(rasx({{"Root.xml", only_profile}, {"Data0/Profile0.txt", "1"}})),
              "File not found in archive: root.xml");
    EXPECT_EQ(read(rasx({{"root.xml", only_profile}})), "File not found in archive: Data0/Profile0.txt");
    // Without a conditions document the profile is read as it is.
    EXPECT_EQ(read(rasx({{"root.xml", only_profile}, {"Data0/Profile0.txt", "1 2"}})), "1:2");
}

TEST(Rasx, TwoThetaScansOnly) {
    for (const char* label : {"2Theta", "2Theta-w", "TwoTheta", "2Theta-Theta", "2theta-omega", "TwoThetaTheta",
                              "TwoTheta_Omega", "TwoTheta Omega"})
        EXPECT_EQ(read(single("10 1", scan_axis(label))), "10:1") << label;
    for (const char* label : {"Omega", "2Theta/Omega", "Omega-2Theta", "Gonio", "Theta", ""})
        EXPECT_EQ(read(single("10 1", scan_axis(label))),
                  "Parse error: scan axis \"" + std::string(label) + "\" is not a supported 2theta scan");
    // The first AxisName under the first ScanInformation, or else in the whole document.
    check({{" \n<AxisName>\n 2Theta\t</AxisName>", "10:1"},
           {"<A><AxisName>Omega</AxisName></A>" + scan_axis("TwoTheta"), "10:1"},
           {"<ScanInformation/><AxisName>Omega</AxisName>", "10:1"},
           {"<B><AxisName>Omega</AxisName></B>", "Parse error: scan axis \"Omega\" is not a supported 2theta scan"},
           {scan_axis("Two\tTheta"), "Parse error: scan axis \"Two\\tTheta\" is not a supported 2theta scan"}},
          [](const std::string& scan_information) { return read(single("10 1", scan_information)); });
}

TEST(Rasx, ProfileHoldsTwoColumnsPerLine) {
    check({{"\xEF\xBB\xBF" "8.5\t591\t1\r\n8.51\t609\t1\r\n", "8.5:591 8.51:609"},
           {"\n  \t\n10 1\n\r\n11 2", "10:1 11:2"},
           {"10\xC2\xA0" "1\xE3\x80\x80" "9", "10:1"}, {std::string("\xFF\xFE" "1\0 \0" "2\0", 8), "1:2"},
           {std::string("\xFF\xFE" "1", 3), "Parse error: truncated UTF-16 text"},
           {"10 1\n11\n", "Parse error: RASX missing intensity"},
           {"2theta intensity\n10 1", "Parse error: invalid numeric value \"2theta\""},
           {"10 1,5", "Parse error: invalid numeric value \"1,5\""},
           {"10 nan", "Parse error: non-finite numeric value"},
           {" \n", ""}},
          [](const std::string& profile) { return read(single(profile)); });
}

TEST(Rasx, LoadsThroughTheEntryPoint) {
    std::string profile;
    for (int i = 99'999; i >= 0; --i) profile += std::to_string(i) + ".25\t" + std::to_string(i % 11) + "\t1\r\n";
    auto p = load(single(profile), "");
    ASSERT_TRUE(p) << error_text(p);
    ASSERT_EQ(p->size(), 100'000u);
    EXPECT_EQ(points_text(p->x().first(2), p->y().first(2)), "0.25:0 1.25:1");
    EXPECT_EQ(p->y()[99'999], 99'999 % 11);
    EXPECT_EQ(outcome(load(single(" \n"), "s.rasx")), "Parse error: pattern contains no points");
}

}  // namespace
}  // namespace difrax::xml
