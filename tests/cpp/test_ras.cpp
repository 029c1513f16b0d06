// Rigaku RAS: scans counted by intensity blocks, the axis and point count of
// each scan's header, and where reading stops.
#include <string>

#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using difrax::testing::bytes_of;

std::string outcome(std::string_view file, std::uint64_t index = 0) {
    auto r = parse_ras(bytes_of(file), index);
    return r ? "ok" : r.error().message();
}

// One scan: header, then `points` lines starting at `first` degrees.
std::string scan(std::string_view axis, std::string_view count, int points, double first = 10.0) {
    std::string s = "*RAS_HEADER_START\r\n*MEAS_SCAN_AXIS_X \"" + std::string(axis) + "\"\r\n";
    if (!count.empty()) s += "*MEAS_DATA_COUNT \"" + std::string(count) + "\"\r\n";
    s += "*RAS_HEADER_END\r\n*RAS_INT_START\r\n";
    for (int i = 0; i < points; ++i) s += std::to_string(first + i * 0.5) + " " + std::to_string(100 + i) + " 1.0\r\n";
    return s + "*RAS_INT_END\r\n";
}

std::string file(std::string scans) { return "*RAS_DATA_START\r\n" + scans + "*RAS_DATA_END\r\n"; }

TEST(Ras, IndexCountsIntensityBlocks) {
    const std::string three = file(scan("2-Theta", "2", 2, 10) + scan("TwoTheta", "3", 3, 20) + scan("2θ", "", 4, 30));
    auto r = parse_ras(bytes_of(three), 2);
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(r->x, (std::vector<double>{30, 30.5, 31, 31.5}));
    EXPECT_EQ(r->y, (std::vector<double>{100, 101, 102, 103}));
    EXPECT_EQ(outcome(three, 3), "RAS: scan 3 is out of range (3 scans)");
    EXPECT_EQ(outcome(""), "RAS: scan 0 is out of range (0 scans)");
}

struct Case {
    const char* value;
    const char* expected;
};

class DeclaredCount : public ::testing::TestWithParam<Case> {};

TEST_P(DeclaredCount, IsAnIntegerWithAtMostAZeroFraction) {
    EXPECT_EQ(outcome(file(scan("2-Theta", GetParam().value, 3))), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DeclaredCount,
    ::testing::Values(Case{"3", "ok"}, Case{"+3", "ok"}, Case{"3.0", "ok"}, Case{"3.0000000000", "ok"},
                      Case{"4", "RAS: declared point count disagrees with intensity block"},
                      Case{"2.0000000000", "RAS: declared point count disagrees with intensity block"},
                      Case{"3.5", "RAS: invalid point count"}, Case{"3.01", "RAS: invalid point count"},
                      Case{"3.", "RAS: invalid point count"}, Case{".0", "RAS: invalid point count"},
                      Case{"-1", "RAS: invalid point count"}, Case{"\"", "RAS: invalid point count"},
                      Case{"3.0.0", "RAS: invalid point count"}, Case{"0x3", "RAS: invalid point count"},
                      Case{"18446744073709551616", "RAS: invalid point count"},
                      Case{"18446744073709551615", "RAS: declared point count disagrees with intensity block"}));

TEST(Ras, DeclaredCountMayBeEmptyOnlyByOmission) {
    EXPECT_EQ(outcome("*MEAS_DATA_COUNT \"\"\n*RAS_INT_START\n1 2\n*RAS_INT_END\n"), "RAS: invalid point count");
    EXPECT_EQ(outcome("*MEAS_DATA_COUNT   \n*RAS_INT_START\n1 2\n*RAS_INT_END\n"), "ok");
    EXPECT_EQ(outcome("*RAS_INT_START\n*RAS_INT_END\n"), "RAS: no complete x/y pattern found");
}

TEST(Ras, AxisAndCountBelongToTheSelectedScan) {
    const std::string omega_then_free = file(scan("Omega", "9", 2) + "*RAS_HEADER_START\n" + "*RAS_INT_START\n1 2\n*RAS_INT_END\n");
    EXPECT_EQ(outcome(omega_then_free, 0), "RAS: axis \"Omega\" is not 2theta in degrees");
    EXPECT_EQ(outcome(omega_then_free, 1), "ok");
    // Without a header start the first scan's values stay in force.
    EXPECT_EQ(outcome(file(scan("Omega", "", 2) + "*RAS_INT_START\n1 2\n*RAS_INT_END\n"), 1),
              "RAS: axis \"Omega\" is not 2theta in degrees");
}

TEST(Ras, ReadingStopsAtTheSelectedBlock) {
    const std::string good = file(scan("2-Theta", "2", 2));
    EXPECT_EQ(outcome(good + "*RAS_INT_START\n*RAS_INT_START\njunk\n"), "ok");
    EXPECT_EQ(outcome("*RAS_INT_END\n" + good, 0), "RAS: intensity block closes without an opening marker");
    EXPECT_EQ(outcome("*RAS_INT_START\n*RAS_INT_START\n" + good, 1), "RAS: nested intensity blocks");
    EXPECT_EQ(outcome("*MEAS_DATA_COUNT 1.5\n" + good, 0), "RAS: invalid point count");
    EXPECT_EQ(outcome(good + "*MEAS_DATA_COUNT 1.5\n", 1), "RAS: invalid point count");
    EXPECT_EQ(outcome(good + "*RAS_INT_START\n1 2\n", 1), "RAS: file ends before *RAS_INT_END");
    EXPECT_EQ(outcome("*RAS_INT_START\n1 2\n", 5), "RAS: file ends before *RAS_INT_END");
}

TEST(Ras, MarkersAndPointLines) {
    EXPECT_EQ(outcome("  *RAS_INT_START \n1 2\n\t*RAS_INT_END\n"), "ok");
    EXPECT_EQ(outcome("*RAS_INT_START\n1 2\n*ras_int_end\n*RAS_INT_END\n"), "RAS: missing intensity");
    EXPECT_EQ(outcome("*ras_int_start\n*RAS_INT_START\n12.5 x\n*RAS_INT_END\n"), "Invalid numeric value \"x\"");
}

}  // namespace
}  // namespace difrax::text
