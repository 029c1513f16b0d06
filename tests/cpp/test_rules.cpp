// The decimal number grammar, fields, rows, axis labels and the quoted form.
#include "support.hpp"
#include "text/rules.hpp"

namespace difrax::text {
namespace {

using difrax::testing::check;
using difrax::testing::error_text;
using difrax::testing::shortest;

TEST(Decimal, ReadsTheNearestDouble) {
    check({{"12.5", "12.5"}, {"+.5", "0.5"}, {"5.", "5"}, {"-0", "-0"}, {"1E3", "1000"}, {"1e+3", "1000"},
           {"2.5e-1", "0.25"}, {"0.1", "0.1"}, {"1e400", "inf"}, {"-1e400", "-inf"}, {"1e-400", "0"},
           {"-1e-400", "-0"}, {"4.9e-324", "5e-324"}, {"INF", "inf"}, {"-Infinity", "-inf"}, {"nan", "nan"},
           {"NaN", "nan"}, {"+nan", "nan"}, {"-NAN", "-nan"}, {"0.000000000000000000000000000001e-300", "0"},
           {"100000000000000000000000000000e300", "inf"},
           {"123456789012345678901234567890", "1.2345678901234568e+29"}},
          [](const std::string& t) { return decimal(t) ? shortest(*decimal(t)) : "refused"; });
    for (const char* t : {"", ".", "+", "-", "e5", "1e", "1e+", "nan(1)", "0x10", "1.5D3", " 1", "1 ", "1,5", "1_000",
                          "--1", "+-1", "infin", "1.2.3", "1e5.0", "+.e1"})
        EXPECT_FALSE(decimal(t).has_value()) << t;
}

TEST(Number, FortranExponentsAndMessagesNamingTheTokenAsWritten) {
    check({{"1.5D3", "1500"}, {"2.5d-1", "0.25"}, {"1.5E3", "1500"},
           {"1e400", "Parse error: Non-finite numeric value \"1e400\""},
           {"NaN", "Parse error: Non-finite numeric value \"NaN\""},
           {"1D400", "Parse error: Non-finite numeric value \"1D400\""},
           {"abc", "Parse error: Invalid numeric value \"abc\""}, {" 1", "Parse error: Invalid numeric value \" 1\""},
           {"dd", "Parse error: Invalid numeric value \"dd\""}},
          [](const std::string& t) { return number(t) ? shortest(*number(t)) : error_text(number(t)); });
}

TEST(Fields, SplitAtWhiteSpaceAndCommas) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(fields("10.0,,  20.5;3"), (V{"10.0", "20.5;3"}));
    EXPECT_EQ(fields(" \t,a\u00A0b\u3000c, "), (V{"a", "b", "c"}));
    EXPECT_EQ(fields(""), V{});
    EXPECT_EQ(words("a,b c"), (V{"a,b", "c"}));
}

TEST(XyRow, BothOfTheFirstTwoFieldsMustExistBeforeEitherIsRead) {
    check({{"12.5 100 7 9", "12.5:100"}, {"12.5", "Parse error: T: missing intensity"},
           {"  ", "Parse error: T: missing position"}, {"abc", "Parse error: T: missing intensity"},
           {"abc 1", "Parse error: Invalid numeric value \"abc\""}},
          [](const std::string& line) {
              auto r = xy_row(line, "T");
              return r ? shortest(r->first) + ":" + shortest(r->second) : error_text(r);
          });
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
    using namespace std::string_literals;
    check({{"abc", "\"abc\""}, {"a\"b\\c'd", "\"a\\\"b\\\\c'd\""}, {"\t\r\n\0"s, "\"\\t\\r\\n\\0\""},
           {"\x01\x7f", "\"\\u{1}\\u{7f}\""}, {"2θ", "\"2θ\""}, {"e\u0301", "\"e\\u{301}\""},
           {"a\u00A0b\uFEFF", "\"a\\u{a0}b\\u{feff}\""}, {"\uFFFD", "\"\uFFFD\""}},
          quoted);
}

TEST(Lines, LineEndsAndTheLastLine) {
    check({{"", ""}, {"a\n", "[a]"}, {"a\r\nb", "[a][b]"}, {"\n\n", "[][]"}, {"a\r", "[a\r]"}, {"a\r\r\n", "[a\r]"}},
          [](const std::string& t) {
              std::string out;
              Lines lines(t);
              for (std::string_view l; lines.next(l);) out += "[" + std::string(l) + "]";
              return out;
          });
}

}  // namespace
}  // namespace difrax::text
