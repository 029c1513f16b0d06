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

TEST(Create, FirstFailedRuleDecides) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        std::vector<double> x, y;
        std::string expected;
    } cases[] = {{{1, 2, 3}, {1, 2}, "Parse error: x and y must have the same length"},
                 {{}, {}, "Parse error: pattern contains no points"},
                 {{1, nan}, {1, inf}, x_rule}, {{2, 1}, {1, 1}, x_rule}, {{1, 1}, {1, 1}, x_rule},
                 {{3, 2}, {1, nan}, x_rule},  // a constructed pattern is never turned round
                 {{1, 2}, {1, nan}, "Parse error: y values must be finite"},
                 {{1}, {-inf}, "Parse error: y values must be finite"},
                 {{5}, {7}, "5:7"}, {{1, 2}, {-1, 0}, "1:-1 2:0"}};
    for (const auto& c : cases) EXPECT_EQ(outcome(Pattern::create(c.x, c.y)), c.expected) << &c - cases;
}

TEST(Load, XyRowsAndOrientation) {
    const std::string nonfinite = "Parse error: ASCII pattern contains a non-finite value";
    const std::string binary = "Parse error: Binary data supplied to an ASCII pattern reader";
    testing::check(
        {{"Sample title\n2theta intensity\n# 1 2\n// 3 4\n'5 6\n!7 8\n;9 10\n10.0 100\n\nnote in between\n"
          "10.5,120 5.3\n\xEF\xBB\xBF\t11 130\n11.5\n12 1.0D2\n12.5;7\n13 140\r\n",
          "10:100 10.5:120 11:130 13:140"},
         // A strictly decreasing axis turns round with its intensities; nothing is sorted.
         {"30 3\n20 2\n10 1\n", "10:1 20:2 30:3"}, {"30 3\n10 1\n20 2\n", x_rule}, {"30 3\n30 1\n", x_rule},
         {"10 1\n12 2\n\xEF\xBB\xBF" "11 3\n", x_rule},  // out of order on the general line rules
         {"30 3\n20 1e400\n", nonfinite}, {"10 1\n11 nan\n", nonfinite}, {"10 1\n11 -INF\n", nonfinite},
         {"# only\n; comments\n", "Parse error: ASCII: no complete x/y pattern found"},
         // Past the 64 KiB detection window a NUL reaches the reader itself.
         {"10 1\n" + std::string(70000, ' ') + "\n11 2\0\n"s, binary},
         // in the columns after the first two, or on a line that is not a row.
         {"10 1\n" + std::string(70000, ' ') + "\n11 2 7\0\n"s, binary},
         {"10 1\n" + std::string(70000, ' ') + "\n11 2\r\0\n"s, binary},
         {"10 1\n" + std::string(70000, ' ') + "\n# note\0\n11 2\n"s, binary}},
        [](const std::string& text) { return outcome(testing::load(text)); });
}

// Program-written rows are read straight from the bytes; a row that starts
// with a byte-order mark goes through the general line rules instead. Both
// must give the same points or the same error.
TEST(Load, XyRowFormsReadAlikeOnBothPaths) {
    const std::string ok = "1:1 ";
    const std::string none = "1:1";
    const std::string nonfinite = "Parse error: ASCII pattern contains a non-finite value";
    const struct {
        std::string row, expected;
    } cases[] = {
        {"2 5", ok + "2:5"}, {"2,5", ok + "2:5"}, {"2 ,, 5", ok + "2:5"}, {"\t2\t5\t", ok + "2:5"},
        {"2 5 9 extra", ok + "2:5"}, {"+2 -5", ok + "2:-5"}, {"2. .5", ok + "2:0.5"}, {"2e0 5E+0", ok + "2:5"},
        {"25e-1 1", ok + "2.5:1"}, {"2 5\r", ok + "2:5"}, {"2 5\r\r", ok + "2:5"}, {"2\r5", ok + "2:5"},
        {"2\v5", ok + "2:5"}, {"2 5\v", ok + "2:5"}, {"00002 005", ok + "2:5"}, {"2 1.5D2", none},
        {"2 5x", none}, {"2x 5", none}, {"2", none}, {"2 ", none}, {"2 ,", none}, {"2 0x10", none},
        {"2 1e", none}, {"2 1e+", none}, {"2 -", none}, {"2 +.", none}, {"2 1..2", none}, {"2 1e22", ok + "2:1e+22"},
        {"2 1e-22", ok + "2:1e-22"}, {"2 1e-400", ok + "2:0"}, {"1e400 5", nonfinite}, {"2 nan", nonfinite},
        {"2 -inf", nonfinite}, {"2 12345678901234567890", ok + "2:12345678901234567168"},
        {"2 9007199254740993", ok + "2:9007199254740992"}, {"2 0.30000000000000004441", ok + "2:0.30000000000000004"},
        {"2 1e00022", ok + "2:1e+22"}, {"2 5\xC2\xA0", ok + "2:5"}, {"2\xC2\xA0" "5", ok + "2:5"},
        {"2 5 \xC2\xA0", ok + "2:5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcome(testing::load("1 1\n" + c.row + "\n")), c.expected) << c.row;
        EXPECT_EQ(outcome(testing::load("1 1\n\xEF\xBB\xBF" + c.row + "\n")), c.expected) << c.row;
        EXPECT_EQ(outcome(testing::load("1 1\n" + c.row)), c.expected) << c.row << " without a line feed";
    }
}

TEST(ReadFile, SystemErrorsAndThePathAsTheNameHint) {
    EXPECT_EQ(error_text(read_with_options("/nonexistent/difrax/scan.xy", {})),
              "IO error: No such file or directory (os error 2)");
    EXPECT_EQ(error_text(read_with_options("/tmp", {})), "IO error: Is a directory (os error 21)");
    EXPECT_EQ(error_text(read_with_options("a\0b"s, {})), "IO error: file name contained an unexpected NUL byte");

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
