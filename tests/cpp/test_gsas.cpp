// GSAS powder data: bank selection, the BANK header, fixed-width and free STD
// and ESD records, channel accounting and FXYE lines.
#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

std::string read(std::string_view file, std::uint64_t index = 0) { return outcome(parse_gsas(bytes_of(file), index)); }

TEST(Gsas, BanksAreCountedInFileOrderAndOpenedByTheirHeader) {
    const std::string two = "title\nBANK 1 2 1 CONS 1000 5\n1 2\nbank 3\n# note\nBANK 2 2 1 CONST 2000 10 STD\n7 8\n";
    EXPECT_EQ(read(two, 1), "20:7 20.1:8");
    EXPECT_EQ(read(two, 0), "Parse error: Invalid numeric value \"bank\"");
    EXPECT_EQ(read(two, 2), "Parse error: GSAS: bank index 2 is out of range (2 banks)");
    EXPECT_EQ(read("title\nBANK1 2 1 CONS 1 1\n"), "Parse error: GSAS: bank index 0 is out of range (0 banks)");
    // Start and step are in hundredths of a degree; each angle is start + step * channel.
    EXPECT_EQ(read("BANK 1 5 1 cons 1000 5\n1 2 3 4 5\n"),
              points_text(stepped(10.0, 0.05, 5), std::vector<double>{1, 2, 3, 4, 5}));
    // The BANK line decides the binning, the channel count and the record type.
    const std::string channels = "Parse error: GSAS: invalid channel count";
    check({{"BANK 1 2 1 CONST 1000 5 0 0 !STD", "ok"}, {"BANK 1 2 1", "Parse error: GSAS: incomplete BANK header"},
           {"BANK 1 2 1 CONST 1000 5 0 0 esd", "Parse error: GSAS ESD: data is shorter than the declared 2 channels"},
           {"BANK 1 2 1 CONST 1000 5 0 0 abc", "Parse error: GSAS: unsupported record type ABC"},
           {"BANK 1 2 1 CONST 1000 5 1.2.3 STD", "Parse error: Invalid numeric value \"1.2.3\""},
           {"BANK 1 0 1 xyz 1 2", "Parse error: GSAS: XYZ binning does not provide a supported 2theta axis"},
           {"BANK 1 2 1 CONS 1000", "Parse error: GSAS: CONS/CONST requires a start and step"},
           {"BANK 1 2.0 1 CONS 1000 5", channels}, {"BANK 1 18446744073709551616 1 CONS 1000 5", channels},
           {"BANK 1 0 1 CONS 1000 5", "Parse error: GSAS: zero channels"},
           {"BANK 1 2 1 CONS 1000 0 ESD", "Parse error: GSAS: step must be nonzero"},
           {"BANK 1 18446744073709551615 1 CONS 1000 5 ESD",
            "Parse error: GSAS ESD: data is shorter than the declared 18446744073709551615 channels"}},
          [](const std::string& header) { return error_text(parse_gsas(bytes_of(header + "\n  1 2\n"), 0)); });
}

TEST(Gsas, RecordsOfEachType) {
    const std::string b1 = "BANK 1 1 1 CONS 0 100\n", b2 = "BANK 1 2 1 CONS 0 100\n";
    const std::string compressed = "Parse error: GSAS STD: compressed repeat-count records are unsupported";
    const std::string ten = "       1       2       3       4       5       6       7       8       9      10\n";
    const std::string pad = "      11      12      13       0       0       0       0       0       0       0\n";
    const std::string first_ten = "0:1 1:2 2:3 3:4 4:5 5:6 6:7 7:8 8:9 9:10";
    const std::string beyond = "Parse error: GSAS STD: unexpected data beyond the declared channel count";
    const std::string h13 = "BANK 1 13 1 CONS 0 100\n", h10 = "BANK 1 10 1 CONS 0 100\n";
    const std::string pairs = "   523.0    48.0   442.0    44.0   527.0    48.0   585.0    51.0   420.0    43.0\n";
    const std::string esd = "BANK 1 1 1 CONST 300 5 ESD\n", fxye = "BANK 1 3 3 CONS 1000 0 0 0 FXYE\n";
    const std::string lines = "1000 55 7.4\n! skipped\n1001 56 7.5\n1002 57 7.5\n1003 58 7.6\n";
    check({// STD records are cut into 8-column fields when every field is well formed, else read word by word.
           {b2 + "   12345   67890", "0:12345 1:67890"}, {b2 + " 1   100 0   200", "0:100 1:200"},
           {"BANK 1 8 1 CONS 0 100\n1 2 3 4 5 6 7 8 ", "0:1 1:2 2:3 3:4 4:5 5:6 6:7 7:8"},
           {b1 + "1234567 12345678", compressed}, {b1 + "01   100", compressed},
           {b1 + "     1.5 abc    ", "Parse error: Invalid numeric value \"abc\""},
           // The last STD record may be padded with fewer than ten zeros.
           {h13 + ten + pad, first_ten + " 10:11 11:12 12:13"}, {h13 + ten + pad.substr(0, 79) + "1\n", beyond},
           {h10 + ten + "0 0 0 0 0 0 0 0 0 0\n", beyond}, {h10 + ten + "0 0 0 0 0 0 0 0 -0\n", first_ten},
           {h13 + ten + "11 12\n", "Parse error: GSAS STD: data is shorter than the declared 13 channels"},
           // ESD records hold intensity/esd pairs.
           {"BANK 1 5 1 CONST 300 5 0 0 ESD\n" + pairs, "3:523 3.05:442 3.1:527 3.15:585 3.2:420"},
           {esd + "1234.56789 987.6543 ", "3:1234.56789"},
           {esd + "1.5 2.5 3.5         ", "Parse error: GSAS ESD: incomplete intensity/esd pair"},
           {esd + "    1.0\xC3\xA9    2.0", "Parse error: GSAS ESD: non-ASCII numeric record"},
           {esd + "     1.0     abc", "Parse error: Invalid numeric value \"abc\""},
           {"BANK 1 2 1 CONST 300 5 ESD\n     1.0     2.0     3.0",
            "Parse error: GSAS ESD: data is shorter than the declared 2 channels"},
           // FXYE lines hold exactly three columns.
           {fxye + lines, "10:55 10.01:56 10.02:57 10.03:58"},
           {"BANK 1 5 3 CONS 1000 1 FXYE\n" + lines, "Parse error: GSAS FXYE: BANK declares 5 points but 4 were read"},
           {"BANK 1 18446744073709551615 3 CONS 1000 1 FXYE\n" + lines,
            "Parse error: GSAS FXYE: BANK declares 18446744073709551615 points but 4 were read"},
           {fxye + "1000\n", "Parse error: GSAS FXYE: missing intensity"},
           {fxye + "1000 55\n", "Parse error: GSAS FXYE: missing third column"},
           {fxye + "1000 55 7 1\n", "Parse error: GSAS FXYE: each record must have exactly three columns"},
           {fxye + "1000 55 inf\n", "Parse error: Non-finite numeric value \"inf\""}},
          [](const std::string& f) { return read(f); });
}

}  // namespace
}  // namespace difrax::text
