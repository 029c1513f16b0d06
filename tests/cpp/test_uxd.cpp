// Bruker UXD: scans counted by block markers, the header in force at the
// selected marker, counts-only axes and the structural refusals.
#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

std::string read(std::string_view file, std::uint64_t index = 0) { return outcome(parse_uxd(bytes_of(file), index)); }

TEST(Uxd, EachCountsScanTakesTheHeaderAtItsMarker) {
    const std::string two_scans = "; converted by XCH\n_FILEVERSION=2\n_DRIVE='COUPLED'\n"
                                  "_START=10.0\n_STEPSIZE=0.02\n_COUNTS\n  5  6  7  8\n  9\n"
                                  "_start = \"20.5\"\n_STEPSIZE = 0.3\n_COUNTS\n1,2 3\n";
    EXPECT_EQ(read(two_scans, 0), points_text(stepped(10.0, 0.02, 5), std::vector<double>{5, 6, 7, 8, 9}));
    EXPECT_EQ(read(two_scans, 1), points_text(stepped(20.5, 0.3, 3), std::vector<double>{1, 2, 3}));
    EXPECT_EQ(read(two_scans, 2), "Parse error: UXD: scan 2 is out of range");
    // Header lines inside the selected block do not change it; they hold for the next one.
    const std::string file = "_START=5\n_STEPSIZE=-0.5\n_COUNTS\n5\n_START=100\n_DRIVE=THETA\n6\n";
    EXPECT_EQ(read(file), "5:5 4.5:6");
    EXPECT_EQ(read(file + "_2THETACOUNTS\n1 2\n", 1), "Parse error: UXD: axis \"THETA\" is not 2theta in degrees");
    // A block ends at the next marker, and nothing after it is read; then the refusals.
    check({{"_2THETACPS\n10 1 7\n\t10.5, 2\n_2THETACOUNTS\n_DRIVE=PHI\n", "10:1 10.5:2"},
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
          [](const std::string& f) { return read(f); });
}

}  // namespace
}  // namespace difrax::text
