// Detection: signatures, content markers in their fixed order, then the
// file-name extension, with free column text last.
#include "parser/parse.hpp"
#include "support.hpp"

namespace difrax::parser {
namespace {

using namespace std::string_literals;
using testing::bytes_of;
using testing::check;

// The detected format and what a load gives, or detection's own refusal.
std::string route(std::string_view data, std::string_view filename = "", std::uint64_t index = 0) {
    auto format = detect_format(bytes_of(data), filename);
    if (!format) return format.error().display();
    return std::string(format_name(*format)) + " " + testing::outcome(testing::load(data, filename, index));
}

TEST(Detection, ReachesTheReaderThatOwnsTheInput) {
    const std::string ras = "*RAS_DATA_START\n*RAS_INT_START\n10 1\n11 2\n*RAS_INT_END\n";
    const std::string gsas = "title\nBANK 1 2 2 CONS 1000 5\n1 2\n";
    const std::string chi = "title\n2-Theta Angle (Degrees)\nIntensity\n2\n10 1\n11 2\n";
    const std::string one = "Parse error: this format has one pattern; index must be 0";
    const std::string no_pattern = "XY Parse error: ASCII: no complete x/y pattern found";
    const std::string old_raw = "Bruker RAW Parse error: Bruker RAW: versions 1 and 2 are unsupported; export RAW3, "
                                "RAW4, UXD, or XY";
    const std::string dif = "Parse error: DIF reflection peak lists are not measured XRD profiles";
    const struct {
        std::string data, filename;
        std::uint64_t index;
        std::string expected;
    } routes[] = {
        {"title\n" + ras, "scan.xy", 0, "RAS 10:1 11:2"},  // content outranks the extension
        {"  \t*RAS_HEADER_START\n*RAS_INT_START\n5 1\n*RAS_INT_END\n", "", 0, "RAS 5:1"},
        {gsas, "scan.ras", 0, "GSAS 10:1 10.05:2"},
        {gsas.substr(6), "scan.raw", 0, "GSAS 10:1 10.05:2"},
        {"_DRIVE=COUPLED\n" + gsas, "", 0, "GSAS 10:1 10.05:2"},
        {gsas + ras, "", 0, "RAS 10:1 11:2"},
        {"_DRIVE = '2THETA'\n_2THETACOUNTS\n10 1\n", "", 0, "UXD 10:1"},
        {"data_x\n_cell_length_a 1\n", "", 0, no_pattern},  // CIF needs a _pd_ tag
        {"data_x\n_cell_length_a 1\n", "a.cif", 0,
         "pdCIF Parse error: pdCIF: no matching block with 2theta and intensity data"},
        {"data_x\n_pd_block_id 1\n", "", 1, "pdCIF " + one},
        {"", "", 0, no_pattern},
        {"1 2", "", 0, "XY 1:2"},
        {"1 2", "", 1, "XY " + one},
        {"\xFF\xFE" "1\0 \0" "2\0\r\0\n\0"s, "", 0, "XY 1:2"},
        {std::string(70000, '\n') + "*RAS_DATA_START\n10 1\n", "", 0, "XY 10:1"},  // beyond the 64 KiB window
        {"RAW \n10 1\n", "", 0, "XY 10:1"},
        {"RAW \0\0\0"s, "", 0, old_raw},
        {"RAW2", "", 0, old_raw},
        {"2theta d I H K L\n10 1\n11 2\n", "a.DIF", 0, dif},
        {"10 8.8 100 1 0 0\n11 8.0 50 1 1 0\n12 7.3 20 -1 1 1\n", "a.dif", 0, dif},
        {"10 1\n11 2\n", "a.dif", 0, "XY 10:1 11:2"},
        {"10 1\n", "dir/scan.RASX", 0, "Parse error: rasx is not a readable ZIP archive"},
        {"10 1\n", "scan.brml", 0, "Parse error: brml is not a readable ZIP archive"},
        {chi, "", 0, "CHI 10:1 11:2"},
        {chi, "", 1, "CHI " + one},
        {"title\n2theta\nI\n3\n10 1\n11 2\n", "", 0, "XY 10:1 11:2"},  // the count does not match
        {"title\n2theta\nI\n3\n10 1\n11 2\n", "a.chi", 0,
         "CHI Parse error: CHI: header declares 3 points but 2 were read"},
        {"<?xml version=\"1.0\"?>\n<!-- c -->\n<x:xrdMeasurements xmlns:x=\"u\"/>", "", 0,
         "XRDML Parse error: scan 0 is out of range (0 scans)"},
        {"<a><xrdMeasurements/></a>", "", 0, no_pattern},
        // A NUL byte refuses text only where no content marker was found.
        {"10 1\n\0"s, "", 0, "Unknown format"},
        {"10 1\n\0"s, "a.ras", 0, "Unknown format"},
        {"ti\0tle\nBANK 1 2 2 CONS 1000 5\n1 2\n"s, "", 0, "GSAS 10:1 10.05:2"},
        {"title\n2theta\n\0\0\0\n2\n10 1\n11 2\n"s, "", 0, "CHI 10:1 11:2"},
        {"PK\x03\x04garbage"s, "", 0, "Zip error: Not a zip archive"},
    };
    for (const auto& r : routes) {
        SCOPED_TRACE(::testing::PrintToString(r.data.substr(0, 80)) + " " + r.filename);
        EXPECT_EQ(route(r.data, r.filename, r.index), r.expected);
    }
}

TEST(Detection, ChiPointCountRunsOverTheWholeText) {
    std::string text = "title\n2theta\nI\n10000\n";
    for (int i = 0; i < 10000; ++i) text += std::to_string(10 + i * 0.001) + " 100\n";
    ASSERT_GT(text.size(), 65536u);
    EXPECT_EQ(detect_format(bytes_of(text), ""), Format::Chi);
}

TEST(XrdmlRoot, OnlyTheFirstElementCounts) {
    for (const char* yes : {"<xrdMeasurements/>", "<!DOCTYPE r><xrdMeasurements>",
                            " \n<?xml version=\"1.0\"?><!--c--><?pi x?>\n<p:xrdMeasurements xmlns:p=\"u\">",
                            "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><xrdMeasurements>",
                            "<xrdMeasurements><unclosed></wrong>"})  // the rest is never parsed
        EXPECT_TRUE(has_xrdml_root(yes)) << yes;
    for (const char* no : {"", "x<xrdMeasurements/>", "<XrdMeasurements/>", "<a/><xrdMeasurements/>",
                           "<?xml version=\"1.0\"?>", "\xEF\xBB\xBF<xrdMeasurements/>", "<<xrdMeasurements/>"})
        EXPECT_FALSE(has_xrdml_root(no)) << no;
}

TEST(Extension, LastComponentLowerCased) {
    check({{"dir/scan.XY", "xy"}, {"scan.tar.GZ", "gz"}, {".bashrc", ""}, {"scan.", ""}, {"dir.d/scan", ""},
           {"dir/scan.ras/", "ras"}, {"", ""}, {"a/..cif", "cif"}, {"SCAN.ΧΡ", "ΧΡ"}},
          extension);
}

}  // namespace
}  // namespace difrax::parser
