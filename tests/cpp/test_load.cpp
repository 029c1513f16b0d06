// Entry points: validation, orientation, file reading, and the XY reader.
#include <filesystem>
#include <fstream>
#include <limits>

#include "support.hpp"

namespace difrax {
namespace {

using namespace std::string_literals;
using testing::error_text;
using testing::outcome;

const std::string x_rule = "Parse error: x values must be finite and strictly increasing";

// Different lengths, no points, a decreasing axis and a single infinite
// intensity are in the module tests (test_module.py).
TEST(Create, FirstFailedRuleDecides) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> x, y;
        std::string expected;
    } cases[] = {{{1, 1}, {1, 1}, x_rule}, {{nan}, {1}, x_rule},  // a lone x has no neighbour to compare
                 {{3, 2}, {1, nan}, x_rule},                         // a constructed pattern is never turned round
                 {{1, 2}, {1, nan}, "Parse error: y values must be finite"}, {{5}, {7}, "5:7"},
                 {{1, 2}, {-1, 0}, "1:-1 2:0"}};
    for (const auto& c : cases) EXPECT_EQ(outcome(Pattern::create(c.x, c.y)), c.expected) << &c - cases;
}

TEST(Load, XyRowsAndOrientation) {
    // Past the 64 KiB detection window a NUL reaches the reader itself.
    auto past_window = [](std::string tail) { return "10 1\n" + std::string(70000, ' ') + "\n" + tail; };
    const std::string binary = "Parse error: Binary data supplied to an ASCII pattern reader",
                      nonfinite = "Parse error: ASCII pattern contains a non-finite value";
    testing::check(
        {{"Sample title\n2theta intensity\n# 1 2\n// 3 4\n'5 6\n!7 8\n;9 10\n10.0 100\n\nnote in between\n"
          "10.5,120 5.3\n\xEF\xBB\xBF\t11 130\n11.5\n12 1.0D2\n12.5;7\n13 140\r\n",
          "10:100 10.5:120 11:130 13:140"},
         // A strictly decreasing axis turns round with its intensities; nothing is sorted.
         {"30 3\n20 2\n10 1\n", "10:1 20:2 30:3"}, {"30 3\n10 1\n20 2\n", x_rule}, {"30 3\n30 1\n", x_rule},
         {"10 1\n12 2\n\xEF\xBB\xBF" "11 3\n", x_rule},  // out of order on the general line rules
         {"30 3\n1e400 2\n", nonfinite}, {"10 1\n11 nan\n", nonfinite}, {"10 1\n11 -INF\n", nonfinite},
         {"# only\n; comments\n", "Parse error: ASCII: no complete x/y pattern found"},
         // The NUL may stand in the columns after the first two, or on a line that is not a row.
         {past_window("11 2\0\n"s), binary}, {past_window("11 2 7\0\n"s), binary},
         {past_window("11 2\r\0\n"s), binary}, {past_window("# note\0\n11 2\n"s), binary}},
        [](const std::string& text) { return outcome(testing::load(text)); });
}

// Program-written rows are read straight from the bytes; a row that starts
// with a byte-order mark goes through the general line rules instead. Both
// must give the same points. Each row follows "1 1" and adds its point, or
// none when it is no row.
TEST(Load, XyRowFormsReadAlikeOnBothPaths) {
    const struct {
        std::string row, point;
    } cases[] = {
        {"2 5", "2:5"}, {"2,5", "2:5"}, {"2 ,, 5", "2:5"}, {"\t2\t5\t", "2:5"}, {"2 5 9 extra", "2:5"},
        {"+2 -5", "2:-5"}, {"2. .5", "2:0.5"}, {"2e0 5E+0", "2:5"}, {"25e-1 1", "2.5:1"}, {"2 5\r", "2:5"},
        {"2 5\r\r", "2:5"}, {"2\r5", "2:5"}, {"2\v5", "2:5"}, {"2 5\v", "2:5"}, {"00002 005", "2:5"},
        {"2 1e22", "2:1e+22"}, {"2 1e-22", "2:1e-22"}, {"2 1e-400", "2:0"}, {"2 1e00022", "2:1e+22"},
        {"2 12345678901234567890", "2:12345678901234567168"}, {"2 9007199254740993", "2:9007199254740992"},
        {"2 0.30000000000000004441", "2:0.30000000000000004"}, {"2 5\xC2\xA0", "2:5"}, {"2\xC2\xA0" "5", "2:5"},
        {"2 5 \xC2\xA0", "2:5"},
        // Not rows.
        {"2 1.5D2", ""}, {"2 5x", ""}, {"2x 5", ""}, {"2", ""}, {"2 ", ""}, {"2 ,", ""}, {"2 0x10", ""}, {"2 1e", ""},
        {"2 1e+", ""}, {"2 -", ""}, {"2 +.", ""}, {"2 1..2", ""},
    };
    for (const auto& c : cases) {
        const std::string expected = c.point.empty() ? "1:1" : "1:1 " + c.point;
        for (std::string file : {"1 1\n" + c.row + "\n", "1 1\n\xEF\xBB\xBF" + c.row + "\n", "1 1\n" + c.row})
            EXPECT_EQ(outcome(testing::load(file)), expected) << ::testing::PrintToString(file);
    }
}

// The system's errors for a missing file, a directory and a NUL in the name
// are in the module tests (test_module.py).
TEST(ReadFile, ThePathIsTheNameHint) {
    auto dir = std::filesystem::temp_directory_path() / "difrax-test-load";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "scan.chi", std::ios::binary) << "title\n2theta\nI\n3\n10 1\n11 2\n";
    EXPECT_EQ(error_text(read_with_options((dir / "scan.chi").string(), {})),
              "Parse error: CHI: header declares 3 points but 2 were read");
    // Files of several MiB are read into pages of their own: the same points.
    std::string large;
    for (int i = 0; i < 400'000; ++i) large += std::to_string(10 + i) + " " + std::to_string(i % 97) + "\n";
    std::ofstream(dir / "large.xy", std::ios::binary) << large;
    auto from_file = read_with_options((dir / "large.xy").string(), {});
    ASSERT_TRUE(from_file) << error_text(from_file);
    EXPECT_EQ(from_file->x().size(), 400'000u);
    EXPECT_EQ(outcome(from_file), outcome(testing::load(large)));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace difrax
