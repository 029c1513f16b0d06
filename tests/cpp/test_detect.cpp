// What reaches a reader: the decoded text (UTF-16 with a byte-order mark,
// lenient UTF-8 otherwise), and the format detected from signatures, content
// markers in their fixed order, then the file-name extension, with free
// column text last.
#include "parser/decode.hpp"
#include "parser/parse.hpp"
#include "support.hpp"

namespace difrax::parser {
namespace {

using namespace std::string_literals;
using namespace testing;

// Odd lengths, a lone high surrogate at the end and a lone low surrogate are
// in test_hostile.
TEST(Decode, GivesTheText) {
    check({{"", ""}, {"\xEF\xBB\xBF", ""}, {"\xFF\xFE", ""}, {"\xFF\xFE\x31\x00\x20\x00\x32\x00"s, "1 2"},
           {"\xFE\xFF\x00\x31"s, "1"}, {"\xFF\xFE\xFF\xFE"s, "\uFEFF"}, {"\xEF\xBB\xBF\xEF\xBB\xBFx", "\uFEFFx"},
           {"\xFF\xFE\x3D\xD8\x00\xDE\xB8\x03"s, "\U0001F600\u03B8"},  // a surrogate pair, then U+03B8
           {"\xFF\xFE\x00\xD8\x31\x00"s, "error: invalid UTF-16 text"},  // a high surrogate without its pair
           // Lenient UTF-8: each maximal invalid subpart becomes one U+FFFD.
           {"1\xE9" "2", "1\uFFFD2"}, {"a\xF0\x9F\x98", "a\uFFFD"}, {"\xC0\xAF", "\uFFFD\uFFFD"},
           {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"}, {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
           {"\xF0\x80", "\uFFFD\uFFFD"}, {"\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", "\uFFFD\uFFFD\uFFFD\uFFFDA"},
           {"a\0b"s, "a\0b"s}},
          [](const std::string& raw) {
              auto r = decode(bytes_of(raw));
              return r ? std::string(r->view()) : "error: " + r.error().message();
          });
    // Long ASCII runs are passed over in blocks: a stray or a valid multi-byte
    // sequence is found wherever it stands in them.
    for (std::size_t at : {0, 7, 8, 31, 32, 63, 64, 65, 127, 128, 191, 199}) {
        const std::string head(at, 'a'), tail(199 - at, 'b');
        const std::string stray = head + "\xFF" + tail, theta = head + "\u03B8" + tail;
        auto read_stray = decode(bytes_of(stray)), read_theta = decode(bytes_of(theta));  // views of the inputs
        ASSERT_TRUE(read_stray && read_theta);
        EXPECT_EQ(read_stray->view(), head + "\uFFFD" + tail) << at;
        EXPECT_EQ(read_theta->view(), theta) << at;
    }
    // Valid UTF-8 is handed on where it lies, not copied.
    const std::string raw = "10 100\n\xCE\xB8 20\n";
    auto r = decode(bytes_of(raw));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->is_owned());
    EXPECT_EQ(r->view().data(), raw.data());
}

// The detected format and what a load gives, or detection's own refusal.
std::string route(std::string_view data, std::string_view filename = "", std::uint64_t index = 0) {
    auto format = detect_format(bytes_of(data), filename);
    if (!format) return format.error().display();
    return std::string(format_name(*format)) + " " + outcome(load(data, filename, index));
}

// An empty text, an index past a single pattern, UTF-16 text, XRDML content
// under another name, a RASX or BRML name on text and a damaged ZIP signature
// are in the Python format and module tests.
TEST(Detection, ReachesTheReaderThatOwnsTheInput) {
    const std::string ras = "*RAS_DATA_START\n*RAS_INT_START\n10 1\n11 2\n*RAS_INT_END\n";
    const std::string gsas = "title\nBANK 1 2 2 CONS 1000 5\n1 2\n";
    const std::string one = "Parse error: this format has one pattern; index must be 0";
    const std::string no_pattern = "XY Parse error: ASCII: no complete x/y pattern found";
    const std::string old_raw = "Bruker RAW Parse error: Bruker RAW: versions 1 and 2 are unsupported; export RAW3, "
                                "RAW4, UXD, or XY";
    const std::string dif = "Parse error: DIF reflection peak lists are not measured XRD profiles";
    // The CHI point count is checked against the whole text, not only the first 64 KiB.
    std::string long_chi = "title\n2theta\nI\n20000\n";
    for (int i = 0; i < 20000; ++i) long_chi += "1 1\n";
    const struct {
        std::string data, expected, filename = "";
        std::uint64_t index = 0;
    } routes[] = {
        {"title\n" + ras, "RAS 10:1 11:2", "scan.xy"},  // content outranks the extension
        {"  \t*RAS_HEADER_START\n*RAS_INT_START\n5 1\n*RAS_INT_END\n", "RAS 5:1"}, {gsas + ras, "RAS 10:1 11:2"},
        {"_DRIVE=COUPLED\n" + gsas, "GSAS 10:1 10.05:2"}, {"_DRIVE = '2THETA'\n_2THETACOUNTS\n10 1\n", "UXD 10:1"},
        {"BANKS 1 2\n10 1\n", "XY 10:1"},  // BANK must be a word of its own
        // A marker counts at the start of any line, after white space, not inside one.
        {"x BANK 2 *RAS_DATA_START\r\n \tBANK 1 2 2 CONS 1000 5\n1 2\n", "GSAS 10:1 10.05:2"},
        {"data_x\n_cell_length_a 1\n", no_pattern},  // CIF needs a _pd_ tag
        {"data_x\n_cell_length_a 1\n", "pdCIF Parse error: pdCIF: no matching block with 2theta and intensity data",
         "a.cif"},
        {"data_x\n_pd_block_id 1\n", "pdCIF " + one, "", 1},
        {std::string(70000, '\n') + "*RAS_DATA_START\n10 1\n", "XY 10:1"},  // beyond the 64 KiB window
        {"RAW \n10 1\n", "XY 10:1"}, {"RAW \0\0\0"s, old_raw}, {"RAW2", old_raw},
        {"2theta d I H K L\n10 1\n11 2\n", dif, "a.DIF"}, {"10 1\n11 2\n", "XY 10:1 11:2", "a.dif"},
        {"10 8.8 100 1 0 0\n11 8.0 50 1 1 0\n12 7.3 20 -1 1 1\n", dif, "a.dif"},
        {long_chi, "CHI " + one, "", 1}, {long_chi + "1 1\n", "XY " + one, "", 1},
        {"title\n2theta\nI\n3\n10 1\n11 2\n", "XY 10:1 11:2"},  // the count does not match
        {"5\nx\ny\n2\n1 2\nabc def\n", "XY 1:2"},  // a number alone is no header line
        // A NUL byte refuses text only where no content marker was found.
        {"10 1\n\0"s, "Unknown format", "a.ras"}, {"title\n2theta\n\0\0\0\n2\n10 1\n11 2\n"s, "CHI 10:1 11:2"},
    };
    for (const auto& r : routes)
        EXPECT_EQ(route(r.data, r.filename, r.index), r.expected)
            << ::testing::PrintToString(r.data.substr(0, 80)) << " " << r.filename;
}

TEST(Detection, XrdmlRootIsTheFirstElementAndExtensionTheLastComponent) {
    for (const char* yes : {"<!DOCTYPE r><xrdMeasurements>", "<xrdMeasurements><unclosed></wrong>",
                            " \n<?xml version=\"1.0\"?><!--c--><?pi x?>\n<p:xrdMeasurements xmlns:p=\"u\">",
                            "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><xrdMeasurements>",
                            // Only the first tag's name counts, and form feeds are blank text.
                            "<?xml version=\"1.0\"?>\f<!doctype r [<!ENTITY e \"x\">]><xrdMeasurements a=1 a='>'>"})
        EXPECT_TRUE(has_xrdml_root(yes)) << yes;
    for (const char* no : {"", "x<xrdMeasurements/>", "<XrdMeasurements/>", "<a/><xrdMeasurements/>",
                           "<a><xrdMeasurements/></a>", "<?xml version=\"1.0\"?>", "\xEF\xBB\xBF<xrdMeasurements/>",
                           "<![CDATA[x]]><xrdMeasurements/>", "<!-- open <xrdMeasurements/>", "<xrdMeasurements",
                           "&amp;<xrdMeasurements/>", "<?xml?>\u00A0<xrdMeasurements/>"})
        EXPECT_FALSE(has_xrdml_root(no)) << no;
    // The extension is that of the last path component, lower-cased.
    check({{"dir/scan.XY", "xy"}, {"scan.tar.GZ", "gz"}, {".bashrc", ""}, {"scan.", ""}, {"dir.d/scan", ""},
           {"dir/scan.ras/", "ras"}, {"", ""}, {"a/..cif", "cif"}, {"SCAN.ΧΡ", "ΧΡ"}},
          extension);
}

}  // namespace
}  // namespace difrax::parser
