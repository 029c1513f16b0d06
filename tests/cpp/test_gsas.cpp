// GSAS powder data: bank selection, the BANK header, fixed-width and free STD
// and ESD records, channel accounting and FXYE lines.
#include <string>

#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using difrax::testing::bytes_of;

std::string outcome(std::string_view file, std::uint64_t index = 0) {
    auto r = parse_gsas(bytes_of(file), index);
    return r ? "ok" : r.error().message();
}

std::vector<double> x_of(std::string_view file, std::uint64_t index = 0) {
    auto r = parse_gsas(bytes_of(file), index);
    EXPECT_TRUE(r) << r.error().message();
    return r ? r->x : std::vector<double>{};
}

std::vector<double> y_of(std::string_view file, std::uint64_t index = 0) {
    auto r = parse_gsas(bytes_of(file), index);
    EXPECT_TRUE(r) << r.error().message();
    return r ? r->y : std::vector<double>{};
}

TEST(Gsas, BanksAreCountedInFileOrder) {
    const std::string two = "title\nBANK 1 2 1 CONS 1000 5\n1 2\nbank 3\n# note\nBANK 2 2 1 CONST 2000 10 STD\n7 8\n";
    EXPECT_EQ(y_of(two, 1), (std::vector<double>{7, 8}));
    EXPECT_EQ(outcome(two, 0), "Invalid numeric value \"bank\"");
    EXPECT_EQ(outcome(two, 2), "GSAS: bank index 2 is out of range (2 banks)");
    EXPECT_EQ(outcome("title\nBANK1 2 1 CONS 1 1\n"), "GSAS: bank index 0 is out of range (0 banks)");
}

TEST(Gsas, AnglesAreStartPlusStepTimesChannel) {
    const std::string file = "BANK 1 5 1 cons 1000 5\n1 2 3 4 5\n";
    std::vector<double> x = x_of(file);
    ASSERT_EQ(x.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const double offset = 0.05 * static_cast<double>(i);
        EXPECT_EQ(x[i], 10.0 + offset) << i;
    }
    EXPECT_EQ(y_of(file), (std::vector<double>{1, 2, 3, 4, 5}));
}

struct Case {
    const char* input;
    const char* expected;
};

class Header : public ::testing::TestWithParam<Case> {};

TEST_P(Header, DecidesBinningCountAndRecordType) {
    EXPECT_EQ(outcome(std::string(GetParam().input) + "\n  1 2\n"), GetParam().expected) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Header,
    ::testing::Values(Case{"BANK 1 2 1 CONST 1000 5 0 0 !STD", "ok"}, Case{"BANK 1 +2 1 CONS 1000 5", "ok"},
                      Case{"BANK 1 2 1 CONST 1000 5 0 0 esd", "GSAS ESD: data is shorter than the declared 2 channels"},
                      Case{"BANK 1 2 1 CONST 1000 5 0 0 abc", "GSAS: unsupported record type ABC"},
                      Case{"BANK 1 2 1 CONST 1000 5 1.2.3 STD", "Invalid numeric value \"1.2.3\""},
                      Case{"BANK 1 0 1 xyz 1 2", "GSAS: XYZ binning does not provide a supported 2theta axis"},
                      Case{"BANK 1 2 1 RALF 1 2 3 4 ALT", "GSAS: RALF binning does not provide a supported 2theta axis"},
                      Case{"BANK 1 2 1", "GSAS: incomplete BANK header"},
                      Case{"BANK 1 2 1 CONS 1000", "GSAS: CONS/CONST requires a start and step"},
                      Case{"BANK 1 2.0 1 CONS 1000 5", "GSAS: invalid channel count"},
                      Case{"BANK 1 -2 1 CONS 1000 5", "GSAS: invalid channel count"},
                      Case{"BANK 1 18446744073709551616 1 CONS 1000 5", "GSAS: invalid channel count"},
                      Case{"BANK 1 0 1 CONS 1000 5", "GSAS: zero channels"},
                      Case{"BANK 1 2 1 CONS x 5", "Invalid numeric value \"x\""},
                      Case{"BANK 1 2 1 CONS 1000 0 ESD", "GSAS: step must be nonzero"},
                      // Declared counts far beyond the text fail without
                      // reserving memory for them.
                      Case{"BANK 1 1000000000000000 1 CONS 1000 5",
                           "GSAS STD: data is shorter than the declared 1000000000000000 channels"},
                      Case{"BANK 1 18446744073709551615 1 CONS 1000 5 ESD",
                           "GSAS ESD: data is shorter than the declared 18446744073709551615 channels"}));

class StdRecord : public ::testing::TestWithParam<Case> {};

// Each record is the whole bank; the result lists the values read.
TEST_P(StdRecord, IsCutByColumnsWhenWellFormed) {
    std::string record = GetParam().input;
    std::size_t n = 0;
    for (char c : std::string_view(GetParam().expected)) n += c == ',';
    auto r = parse_gsas(bytes_of("BANK 1 " + std::to_string(n + 1) + " 1 CONS 0 1\n" + record + "\n"), 0);
    std::string got;
    if (!r) got = r.error().message();
    for (std::size_t i = 0; r && i < r->y.size(); ++i) got += (i ? "," : "") + std::to_string(static_cast<long long>(r->y[i]));
    EXPECT_EQ(got, GetParam().expected) << '"' << record << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Records, StdRecord,
    ::testing::Values(Case{"   12345   67890", "12345,67890"}, Case{"1234567 12345678", "GSAS STD: compressed repeat-count records are unsupported"},
                      Case{"1 2 3 4 5 6 7 8 ", "1,2,3,4,5,6,7,8"}, Case{"12345 67890 123", "12345,67890,123"},
                      Case{" 1   100 0   200", "100,200"},
                      Case{" 2   100   12345", "GSAS STD: compressed repeat-count records are unsupported"},
                      Case{"01   100", "GSAS STD: compressed repeat-count records are unsupported"},
                      Case{"+1   100", "GSAS STD: compressed repeat-count records are unsupported"},
                      Case{"     1.5 abc    ", "Invalid numeric value \"abc\""}));

TEST(Gsas, TrailingZerosMayPadTheLastRecord) {
    const std::string ten = "       1       2       3       4       5       6       7       8       9      10\n";
    const std::string pad = "      11      12      13       0       0       0       0       0       0       0\n";
    EXPECT_EQ(y_of("BANK 1 13 1 CONS 0 1\n" + ten + pad).size(), 13u);
    std::string nonzero = pad;
    nonzero[nonzero.size() - 2] = '1';
    EXPECT_EQ(outcome("BANK 1 13 1 CONS 0 1\n" + ten + nonzero),
              "GSAS STD: unexpected data beyond the declared channel count");
    EXPECT_EQ(outcome("BANK 1 10 1 CONS 0 1\n" + ten + "0 0 0 0 0 0 0 0 0 0\n"),
              "GSAS STD: unexpected data beyond the declared channel count");
    EXPECT_EQ(outcome("BANK 1 10 1 CONS 0 1\n" + ten + "0 0 0 0 0 0 0 0 -0\n"), "ok");
    EXPECT_EQ(outcome("BANK 1 13 1 CONS 0 1\n" + ten + "11 12\n"),
              "GSAS STD: data is shorter than the declared 13 channels");
}

TEST(Gsas, EsdRecordsHoldIntensityEsdPairs) {
    const std::string five_pairs =
        "   523.0    48.0   442.0    44.0   527.0    48.0   585.0    51.0   420.0    43.0\n";
    EXPECT_EQ(y_of("BANK 1 5 1 CONST 300 5 0 0 ESD\n" + five_pairs), (std::vector<double>{523, 442, 527, 585, 420}));
    const std::string head = "BANK 1 1 1 CONST 300 5 ESD\n";
    EXPECT_EQ(y_of(head + "1234.56789 987.6543 "), (std::vector<double>{1234.56789}));
    EXPECT_EQ(outcome(head + "1.5 2.5 3.5         "), "GSAS ESD: incomplete intensity/esd pair");
    EXPECT_EQ(outcome(head + "    1.0\xC3\xA9    2.0"), "GSAS ESD: non-ASCII numeric record");
    EXPECT_EQ(outcome(head + "     1.0     abc"), "Invalid numeric value \"abc\"");
    EXPECT_EQ(outcome("BANK 1 2 1 CONST 300 5 ESD\n1 2\n3"), "GSAS ESD: incomplete intensity/esd pair");
    EXPECT_EQ(outcome("BANK 1 2 1 CONST 300 5 ESD\n     1.0     2.0     3.0"),
              "GSAS ESD: data is shorter than the declared 2 channels");
}

TEST(Gsas, FxyeLinesHoldExactlyThreeColumns) {
    const std::string head = "BANK 1 3 3 CONS 1000 0 0 0 FXYE\n";
    const std::string lines = "1000 55 7.4\n! skipped\n1001 56 7.5\n1002 57 7.5\n1003 58 7.6\n";
    EXPECT_EQ(x_of(head + lines), (std::vector<double>{10.0, 10.01, 10.02, 10.03}));
    EXPECT_EQ(y_of(head + lines), (std::vector<double>{55, 56, 57, 58}));
    EXPECT_EQ(outcome("BANK 1 5 3 CONS 1000 1 FXYE\n" + lines), "GSAS FXYE: BANK declares 5 points but 4 were read");
    EXPECT_EQ(outcome("BANK 1 18446744073709551615 3 CONS 1000 1 FXYE\n" + lines),
              "GSAS FXYE: BANK declares 18446744073709551615 points but 4 were read");
    EXPECT_EQ(outcome(head + "1000 55\n"), "GSAS FXYE: missing third column");
    EXPECT_EQ(outcome(head + "1000 55 7 1\n"), "GSAS FXYE: each record must have exactly three columns");
    EXPECT_EQ(outcome(head + "1000 55 inf\n"), "Non-finite numeric value \"inf\"");
}

}  // namespace
}  // namespace difrax::text
