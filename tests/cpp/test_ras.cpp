// Rigaku RAS: scans counted by intensity blocks, the axis and point count of
// each scan's header, and where reading stops.
#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

std::string read(std::string_view file, std::uint64_t index = 0) { return outcome(parse_ras(bytes_of(file), index)); }

// One scan: header, then `points` lines starting at `first` degrees.
std::string scan(std::string_view axis, std::string_view count, int points, int first = 10) {
    std::string s = "*RAS_HEADER_START\r\n*MEAS_SCAN_AXIS_X \"" + std::string(axis) + "\"\r\n";
    if (!count.empty()) s += "*MEAS_DATA_COUNT \"" + std::string(count) + "\"\r\n";
    s += "*RAS_HEADER_END\r\n*RAS_INT_START\r\n";
    for (int i = 0; i < points; ++i) s += std::to_string(first + i) + ".5 " + std::to_string(100 + i) + " 1.0\r\n";
    return s + "*RAS_INT_END\r\n";
}

std::string file(std::string scans) { return "*RAS_DATA_START\r\n" + scans + "*RAS_DATA_END\r\n"; }

TEST(Ras, IndexCountsIntensityBlocks) {
    const std::string three = file(scan("2-Theta", "2", 2, 10) + scan("TwoTheta", "3", 3, 20) + scan("2θ", "", 4, 30));
    EXPECT_EQ(read(three, 1), "20.5:100 21.5:101 22.5:102");
    EXPECT_EQ(read(three, 2), "30.5:100 31.5:101 32.5:102 33.5:103");
    EXPECT_EQ(read(three, 3), "Parse error: RAS: scan 3 is out of range (3 scans)");
    EXPECT_EQ(read(""), "Parse error: RAS: scan 0 is out of range (0 scans)");
}

TEST(Ras, DeclaredCountIsAnIntegerWithAtMostAZeroFraction) {
    const std::string disagrees = "Parse error: RAS: declared point count disagrees with intensity block";
    for (const char* count : {"3", "+3", "3.0", "3.0000000000"})
        EXPECT_EQ(read(file(scan("2-Theta", count, 3))), "10.5:100 11.5:101 12.5:102") << count;
    for (const char* count : {"4", "2.0000000000", "18446744073709551615"})
        EXPECT_EQ(read(file(scan("2-Theta", count, 3))), disagrees) << count;
    for (const char* count : {"3.5", "3.01", "3.", ".0", "-1", "\"", "3.0.0", "0x3", "18446744073709551616"})
        EXPECT_EQ(read(file(scan("2-Theta", count, 3))), "Parse error: RAS: invalid point count") << count;
}

TEST(Ras, MarkersHeadersAndPointLines) {
    check({{"*MEAS_DATA_COUNT \"\"\n*RAS_INT_START\n1 2\n*RAS_INT_END\n", "Parse error: RAS: invalid point count"},
           {"*MEAS_DATA_COUNT   \n*RAS_INT_START\n1 2\n*RAS_INT_END\n", "1:2"},  // no value at all
           {"*RAS_INT_START\n*RAS_INT_END\n", "Parse error: RAS: no complete x/y pattern found"},
           {"  *RAS_INT_START \n1 2\n\t*RAS_INT_END\n", "1:2"},
           {"*RAS_INT_START\n1 2\n*ras_int_end\n*RAS_INT_END\n", "Parse error: RAS: missing intensity"},
           {"*ras_int_start\n*RAS_INT_START\n12.5 x\n*RAS_INT_END\n", "Parse error: Invalid numeric value \"x\""}},
          [](const std::string& f) { return read(f); });
}

TEST(Ras, AxisAndCountBelongToTheSelectedScan) {
    const std::string omega = "Parse error: RAS: axis \"Omega\" is not 2theta in degrees";
    const std::string omega_then_free =
        file(scan("Omega", "9", 2) + "*RAS_HEADER_START\n*RAS_INT_START\n1 2\n*RAS_INT_END\n");
    EXPECT_EQ(read(omega_then_free, 0), omega);
    EXPECT_EQ(read(omega_then_free, 1), "1:2");
    // Without a header start the first scan's values stay in force.
    EXPECT_EQ(read(file(scan("Omega", "", 2) + "*RAS_INT_START\n1 2\n*RAS_INT_END\n"), 1), omega);
}

TEST(Ras, ReadingStopsAtTheSelectedBlock) {
    const std::string good = file(scan("2-Theta", "2", 2));
    const std::string unterminated = "Parse error: RAS: file ends before *RAS_INT_END";
    EXPECT_EQ(read(good + "*RAS_INT_START\n*RAS_INT_START\njunk\n"), "10.5:100 11.5:101");
    EXPECT_EQ(read("*RAS_INT_END\n" + good), "Parse error: RAS: intensity block closes without an opening marker");
    EXPECT_EQ(read("*RAS_INT_START\n*RAS_INT_START\n" + good, 1), "Parse error: RAS: nested intensity blocks");
    EXPECT_EQ(read("*MEAS_DATA_COUNT 1.5\n" + good, 0), "Parse error: RAS: invalid point count");
    EXPECT_EQ(read(good + "*MEAS_DATA_COUNT 1.5\n", 1), "Parse error: RAS: invalid point count");
    EXPECT_EQ(read(good + "*RAS_INT_START\n1 2\n", 1), unterminated);
    EXPECT_EQ(read("*RAS_INT_START\n1 2\n", 5), unterminated);
}

}  // namespace
}  // namespace difrax::text
