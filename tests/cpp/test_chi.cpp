// CHI profiles: the four-line header, the axis-label judgement and the exact
// point count.
#include <string>

#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using difrax::testing::bytes_of;

std::string outcome(std::string_view file) {
    auto r = parse_chi(bytes_of(file));
    return r ? "ok" : r.error().message();
}

std::string chi(std::string_view axis_label, std::string_view count_line, int points) {
    std::string s = "title\n" + std::string(axis_label) + "\nIntensity\n" + std::string(count_line) + "\n";
    for (int i = 0; i < points; ++i) s += " " + std::to_string(10 + i) + ".5  " + std::to_string(100 + i) + "\n";
    return s;
}

struct Case {
    const char* input;
    const char* expected;
};

class AxisLabel : public ::testing::TestWithParam<Case> {};

TEST_P(AxisLabel, IsJudgedOnTheLoweredLine) { EXPECT_EQ(outcome(chi(GetParam().input, "2", 2)), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Labels, AxisLabel,
    ::testing::Values(Case{"2-Theta Angle (Degrees)", "ok"}, Case{"", "ok"}, Case{"Angle", "ok"},
                      Case{"2θ vs q", "ok"}, Case{"2Θ (deg)", "ok"}, Case{"TTH d", "ok"},
                      Case{"Q (nm^-1)", "CHI: x axis \"q (nm^-1)\" is not 2theta in degrees"},
                      Case{"d-spacing (A)", "CHI: x axis \"d-spacing (a)\" is not 2theta in degrees"},
                      Case{"Radial distance (mm)", "CHI: x axis \"radial distance (mm)\" is not 2theta in degrees"},
                      Case{"Pixel", "CHI: x axis \"pixel\" is not 2theta in degrees"},
                      Case{"q_A^-1", "CHI: x axis \"q_a^-1\" is not 2theta in degrees"},
                      Case{"2theta (radians)", "CHI: x axis \"2theta (radians)\" is not 2theta in degrees"},
                      Case{"2th (RAD)", "CHI: x axis \"2th (rad)\" is not 2theta in degrees"},
                      Case{"Channels", "ok"}, Case{"Θ D", "ok"},
                      Case{"D (Å)", "CHI: x axis \"d (å)\" is not 2theta in degrees"},
                      Case{"Q\t(1/nm)", "CHI: x axis \"q\\t(1/nm)\" is not 2theta in degrees"}));

class CountLine : public ::testing::TestWithParam<Case> {};

TEST_P(CountLine, DeclaresOneDataset) { EXPECT_EQ(outcome(chi("2theta", GetParam().input, 3)), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Header, CountLine,
                         ::testing::Values(Case{"3", "ok"}, Case{"  +3  1 ", "ok"}, Case{"3.0", "CHI: invalid point count"},
                                           Case{"", "CHI: invalid point count"}, Case{"-3", "CHI: invalid point count"},
                                           Case{"3 2", "CHI: only one dataset per profile is supported"},
                                           Case{"3 1 x", "CHI: invalid point-count header"},
                                           Case{"99999999999999999999", "CHI: invalid point count"},
                                           Case{"18446744073709551615",
                                                "CHI: header declares 18446744073709551615 points but 3 were read"}));

TEST(Chi, HeaderLinesAreCountedWhateverTheyHold) {
    EXPECT_EQ(outcome(""), "CHI: missing four-line header");
    EXPECT_EQ(outcome("title"), "CHI: missing x axis label");
    EXPECT_EQ(outcome("title\nq"), "CHI: x axis \"q\" is not 2theta in degrees");
    EXPECT_EQ(outcome("title\n2theta\n"), "CHI: missing intensity label");
    EXPECT_EQ(outcome("title\n2theta\nI\n"), "CHI: missing point count");
    EXPECT_EQ(outcome("\n\n\n2\n1 2\n3 4"), "ok");
    EXPECT_EQ(outcome("t\n2theta\nI\n0\n"), "CHI: no complete x/y pattern found");
}

TEST(Chi, EveryNonBlankLineAfterTheHeaderIsAPoint) {
    auto r = parse_chi(bytes_of("t\n2theta\nI\n3\n 1.0 10 0.5\n\n  \n2.0,20\n3.0 30\n"));
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(r->x, (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(r->y, (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(outcome(chi("2theta", "100", 99)), "CHI: header declares 100 points but 99 were read");
    EXPECT_EQ(outcome(chi("2theta", "100", 101)), "CHI: header declares 100 points but 101 were read");
    EXPECT_EQ(outcome("t\n2theta\nI\n2\n1 2\n# comment\n"), "Invalid numeric value \"#\"");
    EXPECT_EQ(outcome("t\n2theta\nI\n2\n1 2\n3\n"), "CHI: missing intensity");
}

}  // namespace
}  // namespace difrax::text
