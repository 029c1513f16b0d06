// Detection: signatures, content markers in their fixed order, then the
// file-name extension, with free column text last.
#include "parser/parse.hpp"
#include "support.hpp"

namespace difrax::parser {
namespace {

using namespace std::string_literals;
using testing::error_text;
using testing::load;

struct Route {
    const char* name;
    std::string data;
    std::string filename;
    std::uint64_t index;
    // The display text of the error, or, for a load that succeeds, "ok " and
    // the first x value.
    std::string outcome;
};

std::string outcome(const Result<Pattern>& r) {
    if (!r) return r.error().display();
    char buf[64];
    std::snprintf(buf, sizeof buf, "ok %g", r->x()[0]);
    return buf;
}

void PrintTo(const Route& r, std::ostream* os) { *os << r.name; }

class Routing : public ::testing::TestWithParam<Route> {};

TEST_P(Routing, ReachesTheReaderThatOwnsTheInput) {
    const Route& c = GetParam();
    EXPECT_EQ(outcome(load(c.data, c.filename, c.index)), c.outcome);
}

const std::string ras = "*RAS_DATA_START\n*RAS_INT_START\n10 1\n11 2\n*RAS_INT_END\n";
const std::string gsas = "title\nBANK 1 2 2 CONS 1000 5\n1 2\n";
const std::string chi = "title\n2-Theta Angle (Degrees)\nIntensity\n2\n10 1\n11 2\n";
const std::string xrdml_scanless = "<?xml version=\"1.0\"?>\n<!-- c -->\n<x:xrdMeasurements xmlns:x=\"u\"/>";

INSTANTIATE_TEST_SUITE_P(
    Detection, Routing,
    ::testing::Values(
        Route{"ContentOutranksExtension", "title\n" + ras, "scan.xy", 0, "ok 10"},
        Route{"RasMarkerAfterBlanks", "  \t*RAS_HEADER_START\n*RAS_INT_START\n5 1\n*RAS_INT_END\n", "", 0, "ok 5"},
        Route{"BankInRasFile", gsas, "scan.ras", 0, "ok 10"},
        Route{"RawExtensionWithoutSignature", gsas.substr(6), "scan.raw", 0, "ok 10"},
        Route{"GsasBeforeUxd", "_DRIVE=COUPLED\n" + gsas, "", 0, "ok 10"},
        Route{"RasBeforeGsas", gsas + ras, "", 0, "ok 10"},
        Route{"CifNeedsPdTag", "data_x\n_cell_length_a 1\n", "", 0,
              "Parse error: ASCII: no complete x/y pattern found"},
        Route{"CifByExtension", "data_x\n_cell_length_a 1\n", "a.cif", 0,
              "Parse error: pdCIF: no matching block with 2theta and intensity data"},
        Route{"CifIsSinglePattern", "data_x\n_pd_block_id 1\n", "", 1,
              "Parse error: this format has one pattern; index must be 0"},
        Route{"EmptyInput", "", "", 0, "Parse error: ASCII: no complete x/y pattern found"},
        Route{"ThreeBytes", "1 2", "", 0, "ok 1"},
        Route{"XyIsSinglePattern", "1 2", "", 1, "Parse error: this format has one pattern; index must be 0"},
        Route{"OldRawWithoutZeroByteIsText", "RAW \n10 1\n", "", 0, "ok 10"},
        Route{"OldRawSignature", "RAW \0\0\0"s, "", 0,
              "Parse error: Bruker RAW: versions 1 and 2 are unsupported; export RAW3, RAW4, UXD, or XY"},
        Route{"Raw2Signature", "RAW2", "", 0,
              "Parse error: Bruker RAW: versions 1 and 2 are unsupported; export RAW3, RAW4, UXD, or XY"},
        Route{"DifPeakListByHeading", "2theta d I H K L\n10 1\n11 2\n", "a.DIF", 0,
              "Parse error: DIF reflection peak lists are not measured XRD profiles"},
        Route{"DifPeakListByRows", "10 8.8 100 1 0 0\n11 8.0 50 1 1 0\n12 7.3 20 -1 1 1\n", "a.dif", 0,
              "Parse error: DIF reflection peak lists are not measured XRD profiles"},
        Route{"DifTwoColumnsIsXy", "10 1\n11 2\n", "a.dif", 0, "ok 10"},
        Route{"RasxNameOnText", "10 1\n", "dir/scan.RASX", 0, "Parse error: rasx is not a readable ZIP archive"},
        Route{"BrmlNameOnText", "10 1\n", "scan.brml", 0, "Parse error: brml is not a readable ZIP archive"},
        Route{"ChiByShape", chi, "", 0, "ok 10"},
        Route{"ChiCountMismatchIsNotChi", "title\n2theta\nI\n3\n10 1\n11 2\n", "", 0, "ok 10"},
        Route{"ChiCountMismatchByExtension", "title\n2theta\nI\n3\n10 1\n11 2\n", "a.chi", 0,
              "Parse error: CHI: header declares 3 points but 2 were read"},
        Route{"ChiIsSinglePattern", chi, "", 1, "Parse error: this format has one pattern; index must be 0"},
        Route{"XrdmlRootAfterProlog", xrdml_scanless, "", 0, "Parse error: scan 0 is out of range (0 scans)"},
        Route{"XrdmlLaterElementIsNotRoot", "<a><xrdMeasurements/></a>", "", 0,
              "Parse error: ASCII: no complete x/y pattern found"},
        Route{"NulInText", "10 1\n\0"s, "", 0, "Unknown format"},
        Route{"NulWithoutMarkerDespiteExtension", "10 1\n\0"s, "a.ras", 0, "Unknown format"},
        Route{"NulInGsasTitle", "ti\0tle\nBANK 1 2 2 CONS 1000 5\n1 2\n"s, "", 0, "ok 10"},
        Route{"NulPaddedChiLabel", "title\n2theta\n\0\0\0\n2\n10 1\n11 2\n"s, "", 0, "ok 10"},
        Route{"BadUtf16", "\xFF\xFE\x31"s, "", 0, "Parse error: truncated UTF-16 text"},
        Route{"UxdMarker", "_DRIVE = '2THETA'\n_2THETACOUNTS\n10 1\n", "", 0, "ok 10"},
        Route{"ZipSignatureGarbage", "PK\x03\x04garbage"s, "", 0, "Zip error: Not a zip archive"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Detection, ChiPointCountRunsOverTheWholeText) {
    // More than 64 KiB of points: the count still matches.
    std::string text = "title\n2theta\nI\n10000\n";
    for (int i = 0; i < 10000; ++i) text += std::to_string(10 + i * 0.001) + " 100\n";
    ASSERT_GT(text.size(), 65536u);
    EXPECT_EQ(outcome(load(text)), "ok 10");
    EXPECT_EQ(outcome(load(text, "", 1)), "Parse error: this format has one pattern; index must be 0");
}

TEST(Detection, MarkersBeyondTheFirst64KiBAreNotSeen) {
    std::string text(70000, '\n');
    text += "*RAS_DATA_START\n10 1\n";
    EXPECT_EQ(outcome(load(text)), "ok 10");
}

TEST(XrdmlRoot, OnlyTheFirstElementCounts) {
    EXPECT_TRUE(has_xrdml_root("<xrdMeasurements/>"));
    EXPECT_TRUE(has_xrdml_root(" \n<?xml version=\"1.0\"?><!--c--><?pi x?>\n<p:xrdMeasurements xmlns:p=\"u\">"));
    EXPECT_TRUE(has_xrdml_root("<!DOCTYPE r><xrdMeasurements>"));
    EXPECT_TRUE(has_xrdml_root("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><xrdMeasurements>"));
    EXPECT_FALSE(has_xrdml_root(""));
    EXPECT_FALSE(has_xrdml_root("x<xrdMeasurements/>"));
    EXPECT_FALSE(has_xrdml_root("<XrdMeasurements/>"));
    EXPECT_FALSE(has_xrdml_root("<a/><xrdMeasurements/>"));
    EXPECT_FALSE(has_xrdml_root("<?xml version=\"1.0\"?>"));
    EXPECT_FALSE(has_xrdml_root("\xEF\xBB\xBF<xrdMeasurements/>"));
    EXPECT_FALSE(has_xrdml_root("<<xrdMeasurements/>"));
    // The rest of the document is never parsed.
    EXPECT_TRUE(has_xrdml_root("<xrdMeasurements><unclosed></wrong>"));
}

TEST(Extension, LastComponentLowerCased) {
    EXPECT_EQ(extension("dir/scan.XY"), "xy");
    EXPECT_EQ(extension("scan.tar.GZ"), "gz");
    EXPECT_EQ(extension(".bashrc"), "");
    EXPECT_EQ(extension("scan."), "");
    EXPECT_EQ(extension("dir.d/scan"), "");
    EXPECT_EQ(extension("dir/scan.ras/"), "ras");
    EXPECT_EQ(extension(""), "");
    EXPECT_EQ(extension("a/..cif"), "cif");
    EXPECT_EQ(extension("SCAN.ΧΡ"), "ΧΡ");
}

TEST(OnePattern, OnlyIndexZero) {
    EXPECT_TRUE(one_pattern(0));
    EXPECT_EQ(error_text(one_pattern(7)), "Parse error: this format has one pattern; index must be 0");
}

}  // namespace
}  // namespace difrax::parser
