// The text formats whose scans are chosen by index: Rigaku RAS counts them by
// intensity blocks, Bruker UXD by block markers and GSAS by BANK lines. The
// header in force where the selected scan opens decides its axis and count.
#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

// One row: a file, the scan asked for, and the points or error it must give.
struct Scan {
    std::string data, expected;
    std::uint64_t index = 0;
};

template <class Parse>
void check_scans(const std::vector<Scan>& cases, Parse parse) {
    for (const Scan& c : cases)
        EXPECT_EQ(outcome(parse(bytes_of(c.data), c.index)), c.expected)
            << ::testing::PrintToString(c.data) << " scan " << c.index;
}

// One RAS scan: header, then `points` lines starting at `first` degrees.
std::string ras_scan(std::string_view axis, std::string_view count, int points, int first = 10) {
    std::string s = "*RAS_HEADER_START\r\n*MEAS_SCAN_AXIS_X \"" + std::string(axis) + "\"\r\n";
    if (!count.empty()) s += "*MEAS_DATA_COUNT \"" + std::string(count) + "\"\r\n";
    s += "*RAS_HEADER_END\r\n*RAS_INT_START\r\n";
    for (int i = 0; i < points; ++i) s += std::to_string(first + i) + ".5 " + std::to_string(100 + i) + " 1.0\r\n";
    return s + "*RAS_INT_END\r\n";
}

std::string ras_file(std::string scans) { return "*RAS_DATA_START\r\n" + scans + "*RAS_DATA_END\r\n"; }

// The selected block's header decides its axis and count, and reading stops
// at its end. A count of 2^64 - 1 is in test_hostile.
TEST(Ras, ScansMarkersAndPointLines) {
    const std::string three =
        ras_file(ras_scan("2-Theta", "2", 2, 10) + ras_scan("TwoTheta", "3", 3, 20) + ras_scan("2θ", "", 4, 30));
    const std::string good = ras_file(ras_scan("2-Theta", "2", 2));
    const std::string omega = "Parse error: RAS: axis \"Omega\" is not 2theta in degrees";
    const std::string omega_then_free =
        ras_file(ras_scan("Omega", "9", 2) + "*RAS_HEADER_START\n*RAS_INT_START\n1 2\n*RAS_INT_END\n");
    const std::string unterminated = "Parse error: RAS: file ends before *RAS_INT_END",
                      disagrees = "Parse error: RAS: declared point count disagrees with intensity block",
                      invalid = "Parse error: RAS: invalid point count";
    auto counted = [](std::string count) { return ras_file(ras_scan("2-Theta", count, 3)); };
    check_scans(
        {// The declared count is an integer, with at most a zero fraction.
         {counted("3.0000000000"), "10.5:100 11.5:101 12.5:102"}, {counted("4"), disagrees},
         {counted("3.01"), invalid}, {counted("3."), invalid}, {counted(".0"), invalid}, {counted("-1"), invalid},
         {counted("\""), invalid}, {counted("18446744073709551616"), invalid},
         {good + "*MEAS_DATA_COUNT 1.5\n", invalid, 1},
         {three, "20.5:100 21.5:101 22.5:102", 1}, {three, "30.5:100 31.5:101 32.5:102 33.5:103", 2},
         {three, "Parse error: RAS: scan 3 is out of range (3 scans)", 3},
         {"", "Parse error: RAS: scan 0 is out of range (0 scans)"},
         {"*MEAS_DATA_COUNT   \n*RAS_INT_START\n1 2\n*RAS_INT_END\n", "1:2"},  // no value at all
         {"*RAS_INT_START\n*RAS_INT_END\n", "Parse error: RAS: no complete x/y pattern found"},
         {"*RAS_INT_START\n1 2\n*ras_int_end\n*RAS_INT_END\n", "Parse error: RAS: missing intensity"},
         {"*ras_int_start\n*RAS_INT_START\n12.5 x\n*RAS_INT_END\n", "Parse error: Invalid numeric value \"x\""},
         {"  *RAS_INT_START \n1 2\n\t*RAS_INT_END\n", "1:2"}, {omega_then_free, omega}, {omega_then_free, "1:2", 1},
         // Without a header start the first scan's values stay in force.
         {ras_file(ras_scan("Omega", "", 2) + "*RAS_INT_START\n1 2\n*RAS_INT_END\n"), omega, 1},
         {good + "*RAS_INT_START\n*RAS_INT_START\njunk\n", "10.5:100 11.5:101"},
         {"*RAS_INT_END\n" + good, "Parse error: RAS: intensity block closes without an opening marker"},
         {"*RAS_INT_START\n*RAS_INT_START\n" + good, "Parse error: RAS: nested intensity blocks", 1},
         {good + "*RAS_INT_START\n1 2\n", unterminated, 1}, {"*RAS_INT_START\n1 2\n", unterminated, 5}},
        parse_ras);
}

// Each angle of a counts-only scan is start + step * i from the header in force at its marker.
TEST(Uxd, EachCountsScanTakesTheHeaderAtItsMarker) {
    const std::string two_scans = "; converted by XCH\n_FILEVERSION=2\n_DRIVE='COUPLED'\n"
                                  "_START=10.0\n_STEPSIZE=0.02\n_COUNTS\n  5  6  7  8\n  9\n"
                                  "_start = \"20.5\"\n_STEPSIZE = 0.3\n_COUNTS\n1,2 3\n";
    // Header lines inside the selected block do not change it; they hold for the next one.
    const std::string file = "_START=5\n_STEPSIZE=-0.5\n_COUNTS\n5\n_START=100\n_DRIVE=THETA\n6\n";
    check_scans(
        {{two_scans, "10:5 10.02:6 10.04:7 10.06:8 10.08:9"}, {two_scans, "20.5:1 20.8:2 21.1:3", 1},
         {two_scans, "Parse error: UXD: scan 2 is out of range", 2}, {file, "5:5 4.5:6"},
         {file + "_2THETACOUNTS\n1 2\n", "Parse error: UXD: axis \"THETA\" is not 2theta in degrees", 1},
         // A block ends at the next marker, and nothing after it is read; then the refusals.
         {"_2THETACPS\n10 1 7\n\t10.5, 2\n_2THETACOUNTS\n_DRIVE=PHI\n", "10:1 10.5:2"},
         {"_2THETACOUNTS\n1 2\n_COUNTS\nnot data\n_RANGE_END\n", "1:2"},
         {"_2THETACOUNTS\n1 2\n_RANGE_END\n", "Parse error: UXD: unsupported block marker \"_RANGE_END\""},
         {"_counts\n", "Parse error: UXD: unsupported block marker \"_counts\""},
         {"_DRIVE=COUPLED\n", "Parse error: UXD: scan 0 is out of range"},
         {"Sample BT86\n_COUNTS\n1\n", "Parse error: UXD: data precedes a counts block"},
         {"_DRIVE = 'Omega'\n_2THETACOUNTS\n1 2\n", "Parse error: UXD: axis \"Omega\" is not 2theta in degrees"},
         {"_STEPSIZE=1\n_CPS\n5\n", "Parse error: UXD: missing _START for counts-only data"},
         {"_START=1\n_CPS\n5\n", "Parse error: UXD: missing _STEPSIZE for counts-only data"},
         {"_START=1\n_STEPSIZE=0.0\n_CPS\n5\n", "Parse error: UXD: _STEPSIZE must be nonzero"},
         {"_2THETACOUNTS\n_COUNTS\n1\n", "Parse error: UXD: no complete x/y pattern found"},
         {"_2THETACOUNTS\n1\n", "Parse error: UXD: missing intensity"}},
        parse_uxd);
}

// Banks are counted in file order; start and step are in hundredths of a degree.
TEST(Gsas, BanksAreCountedInFileOrderAndOpenedByTheirHeader) {
    const std::string two = "title\nBANK 1 2 1 CONS 1000 5\n1 2\nbank 3\n# note\nBANK 2 2 1 CONST 2000 10 STD\n7 8\n";
    check_scans({{two, "20:7 20.1:8", 1}, {two, "Parse error: Invalid numeric value \"bank\""},
                 {two, "Parse error: GSAS: bank index 2 is out of range (2 banks)", 2},
                 {"title\nBANK1 2 1 CONS 1 1\n", "Parse error: GSAS: bank index 0 is out of range (0 banks)"},
                 {"BANK 1 5 1 cons 1000 5\n1 2 3 4 5\n", "10:1 10.05:2 10.1:3 10.15:4 10.2:5"}},
                parse_gsas);
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
           {"BANK 1 2 1 CONS 1000 0 ESD", "Parse error: GSAS: step must be nonzero"}},
          [](const std::string& header) { return error_text(parse_gsas(bytes_of(header + "\n  1 2\n"), 0)); });
}

// Banks declaring 2^64 - 1, 2^63 or 10^15 channels are in test_hostile.
TEST(Gsas, RecordsOfEachType) {
    const std::string b1 = "BANK 1 1 1 CONS 0 100\n", b2 = "BANK 1 2 1 CONS 0 100\n";
    const std::string h13 = "BANK 1 13 1 CONS 0 100\n", h10 = "BANK 1 10 1 CONS 0 100\n";
    const std::string compressed = "Parse error: GSAS STD: compressed repeat-count records are unsupported";
    const std::string beyond = "Parse error: GSAS STD: unexpected data beyond the declared channel count";
    const std::string ten = "       1       2       3       4       5       6       7       8       9      10\n";
    const std::string pad = "      11      12      13       0       0       0       0       0       0       0\n";
    const std::string first_ten = "0:1 1:2 2:3 3:4 4:5 5:6 6:7 7:8 8:9 9:10";
    const std::string pairs = "   523.0    48.0   442.0    44.0   527.0    48.0   585.0    51.0   420.0    43.0\n";
    const std::string esd = "BANK 1 1 1 CONST 300 5 ESD\n", fxye = "BANK 1 3 3 CONS 1000 0 0 0 FXYE\n";
    const std::string lines = "1000 55 7.4\n! skipped\n1001 56 7.5\n1002 57 7.5\n1003 58 7.6\n";
    check_scans(
        {// STD records are cut into 8-column fields when every field is well formed, else read word by word.
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
         {fxye + "1000\n", "Parse error: GSAS FXYE: missing intensity"},
         {fxye + "1000 55\n", "Parse error: GSAS FXYE: missing third column"},
         {fxye + "1000 55 7 1\n", "Parse error: GSAS FXYE: each record must have exactly three columns"},
         {fxye + "1000 55 inf\n", "Parse error: Non-finite numeric value \"inf\""}},
        parse_gsas);
}

}  // namespace
}  // namespace difrax::text
