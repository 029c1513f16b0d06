// Entry points: orientation, validation, file reading and error texts.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "support.hpp"

namespace difrax {
namespace {

using testing::error_text;
using testing::load;
using testing::vec;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Validation {
    std::vector<double> x, y;
    std::string message;
};

class Create : public ::testing::TestWithParam<Validation> {};

TEST_P(Create, FirstFailedRuleDecides) {
    auto r = Pattern::create(GetParam().x, GetParam().y);
    EXPECT_EQ(error_text(r), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Create,
    ::testing::Values(Validation{{1, 2, 3}, {1, 2}, "Parse error: x and y must have the same length"},
                      Validation{{}, {}, "Parse error: pattern contains no points"},
                      Validation{{1, nan}, {1, inf}, "Parse error: x values must be finite and strictly increasing"},
                      Validation{{2, 1}, {1, 1}, "Parse error: x values must be finite and strictly increasing"},
                      Validation{{1, 1}, {1, 1}, "Parse error: x values must be finite and strictly increasing"},
                      Validation{{1, 2}, {1, nan}, "Parse error: y values must be finite"},
                      Validation{{1}, {-inf}, "Parse error: y values must be finite"},
                      Validation{{5}, {7}, "ok"}, Validation{{1, 2}, {-1, 0}, "ok"}));

TEST(Orientation, StrictlyDecreasingAxisTurnsRoundWithItsIntensities) {
    auto r = load("30 3\n20 2\n10 1\n");
    ASSERT_TRUE(r) << error_text(r);
    EXPECT_EQ(vec(r->x()), (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(vec(r->y()), (std::vector<double>{1, 2, 3}));
}

TEST(Orientation, NeverSorts) {
    EXPECT_EQ(error_text(load("30 3\n10 1\n20 2\n")), "Parse error: x values must be finite and strictly increasing");
    EXPECT_EQ(error_text(load("30 3\n30 1\n")), "Parse error: x values must be finite and strictly increasing");
    // A decreasing axis is reversed before the intensities are checked.
    EXPECT_EQ(error_text(load("30 3\n20 1e400\n")), "Parse error: ASCII pattern contains a non-finite value");
}

TEST(Orientation, DecreasingAxisWithBadIntensityIsReversedThenRefused) {
    // XY refuses non-finite values itself; a constructed pattern shows the
    // order of the checks.
    EXPECT_EQ(error_text(Pattern::create({3, 2}, {1, nan})), "Parse error: x values must be finite and strictly increasing");
}

TEST(ReadFile, SystemErrorsCarryTheirCode) {
    EXPECT_EQ(error_text(read_with_options("/nonexistent/difrax/scan.xy", {})),
              "IO error: No such file or directory (os error 2)");
    EXPECT_EQ(error_text(read_with_options("/tmp", {})), "IO error: Is a directory (os error 21)");
    using namespace std::string_literals;
    EXPECT_EQ(error_text(read_with_options("a\0b"s, {})), "IO error: file name contained an unexpected NUL byte");
}

TEST(ReadFile, ThePathIsTheFileNameHint) {
    auto dir = std::filesystem::temp_directory_path() / "difrax-test-load";
    std::filesystem::create_directories(dir);
    auto path = dir / "scan.chi";
    {
        std::ofstream out(path, std::ios::binary);
        out << "title\n2theta\nI\n3\n10 1\n11 2\n";
    }
    EXPECT_EQ(error_text(read_with_options(path.string(), {})),
              "Parse error: CHI: header declares 3 points but 2 were read");
    std::filesystem::remove_all(dir);
}

TEST(XyReader, SkipsWhatIsNotARow) {
    auto r = load(
        "Sample title\n2theta intensity\n# 1 2\n// 3 4\n'5 6\n!7 8\n;9 10\n10.0 100\n\n"
        "note in between\n10.5,120 5.3\n\xEF\xBB\xBF\t11 130\n11.5\n12 1.0D2\n12.5;7\n13 140\r\n");
    ASSERT_TRUE(r) << error_text(r);
    EXPECT_EQ(vec(r->x()), (std::vector<double>{10.0, 10.5, 11, 13}));
    EXPECT_EQ(vec(r->y()), (std::vector<double>{100, 120, 130, 140}));
}

TEST(XyReader, Refusals) {
    using namespace std::string_literals;
    EXPECT_EQ(error_text(load("10 1\n11 nan\n")), "Parse error: ASCII pattern contains a non-finite value");
    EXPECT_EQ(error_text(load("10 1\n11 -INF\n")), "Parse error: ASCII pattern contains a non-finite value");
    EXPECT_EQ(error_text(load("# only\n; comments\n")), "Parse error: ASCII: no complete x/y pattern found");
    // Past the 64 KiB detection window a NUL reaches the reader itself.
    std::string late = "10 1\n" + std::string(70000, ' ') + "\n11 2\0\n"s;
    EXPECT_EQ(error_text(load(late)), "Parse error: Binary data supplied to an ASCII pattern reader");
}

TEST(XyReader, Utf16WithByteOrderMark) {
    std::string raw = "\xFF\xFE";
    for (char c : std::string("10 1\r\n11 2\r\n")) {
        raw.push_back(c);
        raw.push_back('\0');
    }
    auto r = load(raw);
    ASSERT_TRUE(r) << error_text(r);
    EXPECT_EQ(vec(r->y()), (std::vector<double>{1, 2}));
}

}  // namespace
}  // namespace difrax
