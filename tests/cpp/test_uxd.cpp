// Bruker UXD: scans counted by block markers, the header in force at the
// selected marker, counts-only axes and the structural refusals.
#include <string>

#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using difrax::testing::bytes_of;

std::string outcome(std::string_view file, std::uint64_t index = 0) {
    auto r = parse_uxd(bytes_of(file), index);
    return r ? "ok" : r.error().message();
}

const std::string two_counts_scans =
    "; converted by XCH\n_FILEVERSION=2\n_DRIVE='COUPLED'\n"
    "_START=10.0\n_STEPSIZE=0.02\n_COUNTS\n  5  6  7  8\n  9\n"
    "_start = \"20.5\"\n_STEPSIZE = 0.3\n_COUNTS\n1,2 3\n";

TEST(Uxd, EachCountsScanTakesTheHeaderAtItsMarker) {
    auto first = parse_uxd(bytes_of(two_counts_scans), 0);
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(first->y, (std::vector<double>{5, 6, 7, 8, 9}));
    ASSERT_EQ(first->x.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const double offset = 0.02 * static_cast<double>(i);
        EXPECT_EQ(first->x[i], 10.0 + offset) << i;
    }
    auto second = parse_uxd(bytes_of(two_counts_scans), 1);
    ASSERT_TRUE(second) << second.error().message();
    EXPECT_EQ(second->x, (std::vector<double>{20.5, 20.5 + 0.3, 20.5 + 0.3 * 2}));
    EXPECT_EQ(second->y, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(outcome(two_counts_scans, 2), "UXD: scan 2 is out of range");
    EXPECT_EQ(outcome("_DRIVE=COUPLED\n"), "UXD: scan 0 is out of range");
}

TEST(Uxd, HeaderLinesInsideTheSelectedBlockDoNotChangeIt) {
    const std::string file = "_START=1\n_STEPSIZE=1\n_COUNTS\n5\n_START=100\n_DRIVE=THETA\n6\n";
    auto r = parse_uxd(bytes_of(file), 0);
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(r->x, (std::vector<double>{1, 2}));
    EXPECT_EQ(outcome(file + "_2THETACOUNTS\n1 2\n", 1), "UXD: axis \"THETA\" is not 2theta in degrees");
}

TEST(Uxd, TwoColumnScansUseTheFirstTwoFields) {
    auto r = parse_uxd(bytes_of("_2THETACPS\n10 1 7\n\t10.5, 2\n_2THETACOUNTS\n_DRIVE=PHI\n"), 0);
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(r->x, (std::vector<double>{10, 10.5}));
    EXPECT_EQ(r->y, (std::vector<double>{1, 2}));
}

struct Case {
    const char* file;
    const char* expected;
};

class Refusal : public ::testing::TestWithParam<Case> {};

TEST_P(Refusal, NamesTheFault) { EXPECT_EQ(outcome(GetParam().file), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Files, Refusal,
    ::testing::Values(Case{"_2THETACOUNTS\n1 2\n_RANGE_END\n", "UXD: unsupported block marker \"_RANGE_END\""},
                      Case{"_counts\n", "UXD: unsupported block marker \"_counts\""},
                      Case{"_COUNTS 1\n", "UXD: unsupported block marker \"_COUNTS 1\""},
                      Case{"Sample BT86\n_COUNTS\n1\n", "UXD: data precedes a counts block"},
                      Case{"_DRIVE = 'Omega'\n_2THETACOUNTS\n1 2\n", "UXD: axis \"Omega\" is not 2theta in degrees"},
                      Case{"_STEPSIZE=1\n_CPS\n5\n", "UXD: missing _START for counts-only data"},
                      Case{"_START=1\n_CPS\n5\n", "UXD: missing _STEPSIZE for counts-only data"},
                      Case{"_START=x\n_CPS\n5\n", "Invalid numeric value \"x\""},
                      Case{"_START=1\n_STEPSIZE=0.0\n_CPS\n5\n", "UXD: _STEPSIZE must be nonzero"},
                      Case{"_2THETACOUNTS\n_COUNTS\n1\n", "UXD: no complete x/y pattern found"},
                      Case{"_2THETACOUNTS\n1\n", "UXD: missing intensity"},
                      Case{"_COUNTS\n1 nan\n", "Non-finite numeric value \"nan\""}));

TEST(Uxd, LaterScansAreNotRead) {
    EXPECT_EQ(outcome("_2THETACOUNTS\n1 2\n_COUNTS\nnot data\n_RANGE_END\n"), "ok");
    auto down = parse_uxd(bytes_of("_START=5\n_STEPSIZE=-0.5\n_COUNTS\n1 2 3\n"), 0);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->x, (std::vector<double>{5, 4.5, 4}));
}

}  // namespace
}  // namespace difrax::text
