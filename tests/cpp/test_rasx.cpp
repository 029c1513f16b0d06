// The RASX reader: data folders listed by root.xml, the scan axis of the
// conditions document, and the profile text.
#include "support.hpp"
#include "xml/readers.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;
using Members = std::vector<std::pair<std::string, std::string>>;

std::string folder(const std::string& name, const std::vector<std::string>& files) {
    std::string out = "<" + name + " Type=\"Profile\">";
    for (const std::string& file : files) out += "<ContentHashList Name=\"" + file + "\" ContentHash=\"0f\" />";
    return out + "</" + name + ">";
}
std::string root(const std::string& folders) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Root Version=\"1.1.0.0\">" + folders + "<Signature/></Root>";
}
std::string conditions(const std::string& scan) {
    return "<?xml version=\"1.0\"?><MeasurementConditions><GeneralInformation/>" + scan + "</MeasurementConditions>";
}
std::string scan_axis(const std::string& label) {
    return "<ScanInformation><AxisName>" + label + "</AxisName><Mode>CONTINUOUS</Mode></ScanInformation>";
}
std::string refused(const std::string& label) {
    return "Parse error: scan axis \"" + label + "\" is not a supported 2theta scan";
}

std::string rasx(const Members& members) {
    zip::Builder builder;
    for (const auto& [name, content] : members) builder.deflated(name, content);
    return builder.bytes();
}
// One folder with a profile and its conditions, as Rigaku writes it.
std::string single(const std::string& profile, const std::string& scan = scan_axis("TwoThetaTheta")) {
    return rasx({{"Data0/Profile0.txt", profile}, {"Data0/MesurementConditions0.xml", conditions(scan)},
                 {"root.xml", root(folder("Data0", {"Profile0.txt", "MesurementConditions0.xml"}))}});
}
std::string read(const std::string& file, std::uint64_t n = 0) { return outcome(parse_rasx(bytes_of(file), n)); }

TEST(Rasx, FoldersListedByRoot) {
    std::string archive =
        rasx({{"root.xml", root(folder("Data0", {"Profile0.txt"}) + folder("DataX", {"x.txt"}) +
                                folder("data1", {"x.txt"}) + folder("Data", {"x.txt"}) +
                                folder("Data2", {"Conditions2.xml", "Image2.bmp"}) +
                                "<Data3><ContentHashList/><Deeper><ContentHashList Name=\"x.txt\"/></Deeper></Data3>" +
                                folder("Data12", {"n.xml", "PROFILE12.TXT", "O.txt", "MesurementCONDITIONS12.XML"}) +
                                folder("Data4", {"Profile4.txt", "Conditions4.xml"}))},
              {"Data0/Profile0.txt", "1 2"}, {"Data12/PROFILE12.TXT", "3 4"},
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

TEST(Rasx, TwoThetaScansAndTheirProfiles) {
    for (const char* label : {"2Theta", "2Theta-w", "TwoTheta", "2Theta-Theta", "2theta-omega", "TwoThetaTheta",
                              "TwoTheta_Omega"})
        EXPECT_EQ(read(single("10 1", scan_axis(label))), "10:1") << label;
    for (const char* label : {"Omega", "2Theta/Omega", "Theta", ""})
        EXPECT_EQ(read(single("10 1", scan_axis(label))), refused(label));
    // The first AxisName under the first ScanInformation, or else in the whole document.
    check({{" \n<AxisName>\n 2Theta\t</AxisName>", "10:1"},
           {"<A><AxisName>Omega</AxisName></A>" + scan_axis("TwoTheta"), "10:1"},
           {"<ScanInformation/><AxisName>Omega</AxisName>", "10:1"},
           {"<B><AxisName>Omega</AxisName></B>", refused("Omega")}, {scan_axis("Two\tTheta"), refused("Two\\tTheta")}},
          [](const std::string& scan_information) { return read(single("10 1", scan_information)); });
    // The profile holds two columns per line, and anything after them.
    check({{"\xEF\xBB\xBF" "8.5\t591\t1\r\n8.51\t609\t1\r\n", "8.5:591 8.51:609"},
           {"\n  \t\n10 1\n\r\n11 2", "10:1 11:2"}, {"10\xC2\xA0" "1\xE3\x80\x80" "9", "10:1"},
           {std::string("\xFF\xFE" "1\0 \0" "2\0", 8), "1:2"},  // UTF-16; an odd length is in test_hostile
           {"10 1\n11\n", "Parse error: RASX missing intensity"}, {"10 nan", "Parse error: non-finite numeric value"},
           {"10 1,5", "Parse error: invalid numeric value \"1,5\""},
           // Rows read straight from the bytes end where the words do.
           {"10 1\r5 6\n7  8 x", "10:1 7:8"}, {"10,1 2", "Parse error: invalid numeric value \"10,1\""},
           {"7 8\n10 1x", "Parse error: invalid numeric value \"1x\""},
           {"2theta intensity\n10 1", "Parse error: invalid numeric value \"2theta\""}, {" \n", ""}},
          [](const std::string& profile) { return read(single(profile)); });
}

}  // namespace
}  // namespace difrax::xml
