// The decimal number grammar, fields, rows, axis labels and the quoted form.
#include <cmath>
#include <limits>

#include "support.hpp"
#include "text/rules.hpp"

namespace difrax::text {
namespace {

using difrax::testing::error_text;

struct NumberCase {
    const char* token;
    double value;
};

class DecimalAccepts : public ::testing::TestWithParam<NumberCase> {};

TEST_P(DecimalAccepts, ReadsTheNearestDouble) {
    auto v = decimal(GetParam().token);
    ASSERT_TRUE(v.has_value()) << GetParam().token;
    EXPECT_EQ(*v, GetParam().value) << GetParam().token;
    EXPECT_EQ(std::signbit(*v), std::signbit(GetParam().value)) << GetParam().token;
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Grammar, DecimalAccepts,
                         ::testing::Values(NumberCase{"12.5", 12.5}, NumberCase{"+.5", 0.5}, NumberCase{"5.", 5.0},
                                           NumberCase{"-0", -0.0}, NumberCase{"1E3", 1000.0},
                                           NumberCase{"1e+3", 1000.0}, NumberCase{"2.5e-1", 0.25},
                                           NumberCase{"1e400", inf}, NumberCase{"-1e400", -inf},
                                           NumberCase{"1e-400", 0.0}, NumberCase{"-1e-400", -0.0},
                                           NumberCase{"0.000000000000000000000000000001e-300", 0.0},
                                           NumberCase{"100000000000000000000000000000e300", inf},
                                           NumberCase{"4.9e-324", 4.9e-324}, NumberCase{"INF", inf},
                                           NumberCase{"-Infinity", -inf}, NumberCase{"0.1", 0.1},
                                           NumberCase{"123456789012345678901234567890", 1.2345678901234568e29}));

class DecimalRefuses : public ::testing::TestWithParam<const char*> {};

TEST_P(DecimalRefuses, OutsideTheGrammar) { EXPECT_FALSE(decimal(GetParam()).has_value()) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Grammar, DecimalRefuses,
                         ::testing::Values("", ".", "+", "-", "e5", "1e", "1e+", "nan(1)", "0x10", "1.5D3", " 1",
                                           "1 ", "1,5", "1_000", "--1", "+-1", "infin", "1.2.3", "1e5.0", "+.e1"));

TEST(Decimal, NanInAnyCaseIsANumber) {
    for (const char* t : {"nan", "NaN", "-NAN", "+nan"}) {
        auto v = decimal(t);
        ASSERT_TRUE(v.has_value()) << t;
        EXPECT_TRUE(std::isnan(*v));
    }
}

TEST(Number, FortranExponentsAndRefusals) {
    EXPECT_EQ(*number("1.5D3"), 1500.0);
    EXPECT_EQ(*number("2.5d-1"), 0.25);
    EXPECT_EQ(*number("1.5E3"), 1500.0);
    EXPECT_EQ(error_text(number("1e400")), "Parse error: Non-finite numeric value \"1e400\"");
    EXPECT_EQ(error_text(number("NaN")), "Parse error: Non-finite numeric value \"NaN\"");
    EXPECT_EQ(error_text(number("abc")), "Parse error: Invalid numeric value \"abc\"");
    EXPECT_EQ(error_text(number(" 1")), "Parse error: Invalid numeric value \" 1\"");
    // The message names the token as written, not the D-to-E copy.
    EXPECT_EQ(error_text(number("1D400")), "Parse error: Non-finite numeric value \"1D400\"");
    EXPECT_EQ(error_text(number("dd")), "Parse error: Invalid numeric value \"dd\"");
}

TEST(Fields, SplitAtWhiteSpaceAndCommas) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(fields("10.0,,  20.5;3"), (V{"10.0", "20.5;3"}));
    EXPECT_EQ(fields(" \t,a\u00A0b\u3000c, "), (V{"a", "b", "c"}));
    EXPECT_EQ(fields(""), V{});
    EXPECT_EQ(words("a,b c"), (V{"a,b", "c"}));
}

TEST(XyRow, FirstTwoFieldsOnly) {
    auto r = xy_row("12.5 100 7 9", "T");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->first, 12.5);
    EXPECT_EQ(r->second, 100.0);
    EXPECT_EQ(error_text(xy_row("12.5", "T")), "Parse error: T: missing intensity");
    EXPECT_EQ(error_text(xy_row("  ", "T")), "Parse error: T: missing position");
    // Both fields must exist before either is read.
    EXPECT_EQ(error_text(xy_row("abc", "T")), "Parse error: T: missing intensity");
    EXPECT_EQ(error_text(xy_row("abc 1", "T")), "Parse error: Invalid numeric value \"abc\"");
}

TEST(Pattern, NeedsEqualNonEmptySequences) {
    EXPECT_EQ(error_text(pattern({}, {}, "T")), "Parse error: T: no complete x/y pattern found");
    EXPECT_EQ(error_text(pattern({1, 2, 3}, {1, 2}, "T")), "Parse error: T: no complete x/y pattern found");
    EXPECT_TRUE(pattern({1}, {2}, "T"));
}

TEST(AxisLabels, KeysAndRefusals) {
    EXPECT_EQ(axis_key("2-Theta"), "2theta");
    EXPECT_EQ(axis_key("2 Theta_rad"), "2thetarad");
    EXPECT_EQ(axis_key("ΘΣ"), "θσ");
    for (const char* refused : {"Omega", "2Theta rad", "PHI", "Chi", "d", "Q", "Time", "T_O_F"})
        EXPECT_FALSE(check_axis(refused, "T")) << refused;
    for (const char* accepted : {"2-Theta", "TwoTheta", "", "2θ", "Theta2", "qq"})
        EXPECT_TRUE(check_axis(accepted, "T")) << accepted;
    EXPECT_EQ(error_text(check_axis("Omega", "RAS")), "Parse error: RAS: axis \"Omega\" is not 2theta in degrees");
}

TEST(Quoted, EscapesLikeADebugString) {
    EXPECT_EQ(quoted("abc"), "\"abc\"");
    EXPECT_EQ(quoted("a\"b\\c'd"), "\"a\\\"b\\\\c'd\"");
    EXPECT_EQ(quoted(std::string_view("\t\r\n\0", 4)), "\"\\t\\r\\n\\0\"");
    EXPECT_EQ(quoted("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
    EXPECT_EQ(quoted("2θ"), "\"2θ\"");
    EXPECT_EQ(quoted("e\u0301"), "\"e\\u{301}\"");
    EXPECT_EQ(quoted("a\u00A0b\uFEFF"), "\"a\\u{a0}b\\u{feff}\"");
    EXPECT_EQ(quoted("\uFFFD"), "\"\uFFFD\"");
}

TEST(UnsignedDecimal, DigitsWithOptionalPlus) {
    EXPECT_EQ(unsigned_decimal("+5"), 5u);
    EXPECT_EQ(unsigned_decimal("18446744073709551615"), 18446744073709551615ull);
    for (const char* bad : {"", "+", "-1", "5.0", "18446744073709551616", "++5", " 5", "5 "})
        EXPECT_FALSE(unsigned_decimal(bad).has_value()) << bad;
}

TEST(Lines, LineEndsAndTheLastLine) {
    auto all = [](std::string_view t) {
        std::vector<std::string_view> out;
        Lines lines(t);
        std::string_view l;
        while (lines.next(l)) out.push_back(l);
        return out;
    };
    using V = std::vector<std::string_view>;
    EXPECT_EQ(all(""), V{});
    EXPECT_EQ(all("a\n"), V{"a"});
    EXPECT_EQ(all("a\r\nb"), (V{"a", "b"}));
    EXPECT_EQ(all("\n\n"), (V{"", ""}));
    EXPECT_EQ(all("a\r"), V{"a\r"});
    EXPECT_EQ(all("a\r\r\n"), V{"a\r"});
}

}  // namespace
}  // namespace difrax::text
