// CHI profiles: the four-line header, the axis-label judgement and the exact
// point count.
#include "support.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

// A profile with the given axis label and count line, then three points.
std::string chi(std::string_view axis_label, std::string_view count_line) {
    return "title\n" + std::string(axis_label) + "\nIntensity\n" + std::string(count_line) +
           "\n 10.5  100\n 11.5  101\n 12.5  102\n";
}

TEST(Chi, HeaderLinesThenEveryNonBlankLineIsAPoint) {
    const std::string three = "10.5:100 11.5:101 12.5:102", invalid = "Parse error: CHI: invalid point count";
    auto label = [](std::string text) { return chi(text, "3"); };
    auto count = [](std::string line) { return chi("2theta", line); };
    auto no = [](std::string low) { return "Parse error: CHI: x axis \"" + low + "\" is not 2theta in degrees"; };
    check({// The axis label is judged on the lowered line.
           {label("2-Theta Angle (Degrees)"), three}, {label(""), three}, {label("Channels"), three},
           {label("2θ vs q"), three}, {label("2Θ (deg)"), three}, {label("TTH d"), three},
           {label("Q (nm^-1)"), no("q (nm^-1)")}, {label("Qnm^-1"), no("qnm^-1")}, {label("qA-1"), no("qa-1")},
           {label("D (Å)"), no("d (å)")}, {label("Radial distance (mm)"), no("radial distance (mm)")},
           {label("2theta (radians)"), no("2theta (radians)")}, {label("2th (RAD)"), no("2th (rad)")},
           // The header, then the count line: one count and at most the dataset number 1 (counts of 2^64 - 1
           // and 2^64 are in test_hostile).
           {"", "Parse error: CHI: missing four-line header"}, {"title", "Parse error: CHI: missing x axis label"},
           {"title\nq", "Parse error: CHI: x axis \"q\" is not 2theta in degrees"},
           {"title\n2theta\n", "Parse error: CHI: missing intensity label"},
           {"title\n2theta\nI\n", "Parse error: CHI: missing point count"}, {"\n\n\n2\n1 2\n3 4", "1:2 3:4"},
           {count("  +3  1 "), three}, {count("3.0"), invalid}, {count(""), invalid},
           {count("3 2"), "Parse error: CHI: only one dataset per profile is supported"},
           {count("3 1 x"), "Parse error: CHI: invalid point-count header"},
           // Every non-blank line after the header is a point, and their number is exact.
           {"t\n2theta\nI\n0\n", "Parse error: CHI: no complete x/y pattern found"},
           {"t\n2theta\nI\n3\n 1.0 10 0.5\n\n  \n2.0,20\n3.0 30\n", "1:10 2:20 3:30"},
           {count("4"), "Parse error: CHI: header declares 4 points but 3 were read"},
           {count("2"), "Parse error: CHI: header declares 2 points but 3 were read"},
           {"t\n2theta\nI\n2\n1 2\n# comment\n", "Parse error: Invalid numeric value \"#\""},
           {"t\n2theta\nI\n2\n1 2\n3\n", "Parse error: CHI: missing intensity"}},
          [](const std::string& file) { return outcome(parse_chi(bytes_of(file))); });
}

}  // namespace
}  // namespace difrax::text
