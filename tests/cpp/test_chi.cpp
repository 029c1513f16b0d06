// CHI profiles: the four-line header, the axis-label judgement and the exact
// point count.
#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

std::string chi(std::string_view axis_label, std::string_view count_line, int points) {
    std::string s = "title\n" + std::string(axis_label) + "\nIntensity\n" + std::string(count_line) + "\n";
    for (int i = 0; i < points; ++i) s += " " + std::to_string(10 + i) + ".5  " + std::to_string(100 + i) + "\n";
    return s;
}

std::string status(const std::string& file) { return error_text(parse_chi(bytes_of(file))); }

TEST(Chi, AxisLabelIsJudgedOnTheLoweredLine) {
    auto no = [](std::string label) { return "Parse error: CHI: x axis \"" + label + "\" is not 2theta in degrees"; };
    check({{"2-Theta Angle (Degrees)", "ok"}, {"", "ok"}, {"Angle", "ok"}, {"Channels", "ok"}, {"2θ vs q", "ok"},
           {"2Θ (deg)", "ok"}, {"TTH d", "ok"}, {"Θ D", "ok"},
           {"Q (nm^-1)", "Parse error: CHI: x axis \"q (nm^-1)\" is not 2theta in degrees"},
           {"q_A^-1", no("q_a^-1")}, {"Qnm^-1", no("qnm^-1")}, {"qA-1", no("qa-1")}, {"D (Å)", no("d (å)")},
           {"d-spacing (A)", no("d-spacing (a)")}, {"Radial distance (mm)", no("radial distance (mm)")},
           {"Pixel", no("pixel")}, {"2theta (radians)", no("2theta (radians)")}, {"2th (RAD)", no("2th (rad)")},
           {"Q\t(1/nm)", no("q\\t(1/nm)")}},
          [](const std::string& label) { return status(chi(label, "2", 2)); });
}

TEST(Chi, CountLineDeclaresOneDataset) {
    const std::string invalid = "Parse error: CHI: invalid point count";
    check({{"3", "ok"}, {"  +3  1 ", "ok"}, {"3.0", invalid}, {"", invalid}, {"-3", invalid},
           {"99999999999999999999", invalid}, {"3 2", "Parse error: CHI: only one dataset per profile is supported"},
           {"3 1 x", "Parse error: CHI: invalid point-count header"},
           {"18446744073709551615", "Parse error: CHI: header declares 18446744073709551615 points but 3 were read"}},
          [](const std::string& count) { return status(chi("2theta", count, 3)); });
}

TEST(Chi, HeaderLinesThenEveryNonBlankLineIsAPoint) {
    check({{"", "Parse error: CHI: missing four-line header"}, {"title", "Parse error: CHI: missing x axis label"},
           {"title\nq", "Parse error: CHI: x axis \"q\" is not 2theta in degrees"},
           {"title\n2theta\n", "Parse error: CHI: missing intensity label"},
           {"title\n2theta\nI\n", "Parse error: CHI: missing point count"}, {"\n\n\n2\n1 2\n3 4", "1:2 3:4"},
           {"t\n2theta\nI\n0\n", "Parse error: CHI: no complete x/y pattern found"},
           {"t\n2theta\nI\n3\n 1.0 10 0.5\n\n  \n2.0,20\n3.0 30\n", "1:10 2:20 3:30"},
           {chi("2theta", "100", 99), "Parse error: CHI: header declares 100 points but 99 were read"},
           {chi("2theta", "100", 101), "Parse error: CHI: header declares 100 points but 101 were read"},
           {"t\n2theta\nI\n2\n1 2\n# comment\n", "Parse error: Invalid numeric value \"#\""},
           {"t\n2theta\nI\n2\n1 2\n3\n", "Parse error: CHI: missing intensity"}},
          [](const std::string& file) { return outcome(parse_chi(bytes_of(file))); });
}

}  // namespace
}  // namespace difrax::text
