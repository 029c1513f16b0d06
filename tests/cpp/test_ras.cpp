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

// Scans are counted by their intensity blocks; the selected block's header
// decides its axis and count, and reading stops at its end.
TEST(Ras, ScansMarkersAndPointLines) {
    const std::string three = file(scan("2-Theta", "2", 2, 10) + scan("TwoTheta", "3", 3, 20) + scan("2θ", "", 4, 30));
    const std::string good = file(scan("2-Theta", "2", 2));
    const std::string omega = "Parse error: RAS: axis \"Omega\" is not 2theta in degrees";
    const std::string omega_then_free =
        file(scan("Omega", "9", 2) + "*RAS_HEADER_START\n*RAS_INT_START\n1 2\n*RAS_INT_END\n");
    const std::string unterminated = "Parse error: RAS: file ends before *RAS_INT_END";
    const std::string disagrees = "Parse error: RAS: declared point count disagrees with intensity block";
    const std::string invalid = "Parse error: RAS: invalid point count";
    auto counted = [](std::string count) { return file(scan("2-Theta", count, 3)); };
    const struct {
        std::string data, expected;
        std::uint64_t index = 0;
    } cases[] = {
        // The declared count is an integer, with at most a zero fraction.
        {counted("3.0000000000"), "10.5:100 11.5:101 12.5:102"}, {counted("4"), disagrees},
        {counted("18446744073709551615"), disagrees}, {counted("3.01"), invalid}, {counted("3."), invalid},
        {counted(".0"), invalid}, {counted("-1"), invalid}, {counted("\""), invalid},
        {counted("18446744073709551616"), invalid}, {good + "*MEAS_DATA_COUNT 1.5\n", invalid, 1},
        {three, "20.5:100 21.5:101 22.5:102", 1}, {three, "30.5:100 31.5:101 32.5:102 33.5:103", 2},
        {three, "Parse error: RAS: scan 3 is out of range (3 scans)", 3},
        {"", "Parse error: RAS: scan 0 is out of range (0 scans)"},
        {"*MEAS_DATA_COUNT   \n*RAS_INT_START\n1 2\n*RAS_INT_END\n", "1:2"},  // no value at all
        {"*RAS_INT_START\n*RAS_INT_END\n", "Parse error: RAS: no complete x/y pattern found"},
        {"*RAS_INT_START\n1 2\n*ras_int_end\n*RAS_INT_END\n", "Parse error: RAS: missing intensity"},
        {"*ras_int_start\n*RAS_INT_START\n12.5 x\n*RAS_INT_END\n", "Parse error: Invalid numeric value \"x\""},
        {"  *RAS_INT_START \n1 2\n\t*RAS_INT_END\n", "1:2"}, {omega_then_free, omega}, {omega_then_free, "1:2", 1},
        // Without a header start the first scan's values stay in force.
        {file(scan("Omega", "", 2) + "*RAS_INT_START\n1 2\n*RAS_INT_END\n"), omega, 1},
        {good + "*RAS_INT_START\n*RAS_INT_START\njunk\n", "10.5:100 11.5:101"},
        {"*RAS_INT_END\n" + good, "Parse error: RAS: intensity block closes without an opening marker"},
        {"*RAS_INT_START\n*RAS_INT_START\n" + good, "Parse error: RAS: nested intensity blocks", 1},
        {good + "*RAS_INT_START\n1 2\n", unterminated, 1}, {"*RAS_INT_START\n1 2\n", unterminated, 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read(c.data, c.index), c.expected) << ::testing::PrintToString(c.data) << " scan " << c.index;
}

}  // namespace
}  // namespace difrax::text
