// The decimal number grammar, lines, rows, axis labels and the quoted form.
#include <algorithm>
#include <bit>
#include <charconv>
#include <random>

#include "support.hpp"
#include "text/rules.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

// The forms the XY reader tests already show (exponents, a bare point, the
// underflow to zero) are not repeated here.
TEST(Numbers, ReadTheNearestDouble) {
    check({{"-0", "-0"}, {"+.5", "0.5"}, {"0.1", "0.1"}, {"1e400", "inf"}, {"-1e-400", "-0"}, {"4.9e-324", "5e-324"},
           {"INF", "inf"}, {"-Infinity", "-inf"}, {"NaN", "nan"}, {"-NAN", "-nan"},
           {"0.000000000000000000000000000001e-300", "0"}, {"100000000000000000000000000000e300", "inf"},
           {"123456789012345678901234567890", "1.2345678901234568e+29"}},
          [](const std::string& t) { return decimal(t) ? shortest(*decimal(t)) : "refused"; });
    for (const char* t : {"", ".", "+", "e5", "nan(1)", "1.5D3", " 1", "1 ", "1,5", "--1", "infin", "1e5.0"})
        EXPECT_FALSE(decimal(t).has_value()) << t;
    // number() adds Fortran exponents; its messages name the token as written.
    check({{"1.5D3", "1500"}, {"2.5d-1", "0.25"}, {"1e400", "Parse error: Non-finite numeric value \"1e400\""},
           {"1D400", "Parse error: Non-finite numeric value \"1D400\""},
           {" 1", "Parse error: Invalid numeric value \" 1\""}, {"dd", "Parse error: Invalid numeric value \"dd\""}},
          [](const std::string& t) { return number(t) ? shortest(*number(t)) : error_text(number(t)); });
}

// The short-decimal scanner, wherever a number stands and whatever follows
// it: it must stop where the full conversion stops and give its value to the
// bit, and it must take every number of up to 15 digits without an exponent.
TEST(Numbers, ShortDecimalsWhereverTheyStand) {
    std::mt19937_64 random(7);
    auto digits = [&](std::size_t n) {
        std::string out;
        while (n-- > 0) out += static_cast<char>('0' + random() % 10);
        return out;
    };
    // Bytes next to the digits in value ("/", ":", and digits with the top bit set), and runs
    // around eight digits, the width read at once.
    const std::string_view after[] = {"", " ", "\n", ",", "x", ".", "e", "e5", "E-3", "0", "1234567", "/", ":",
                                      "\xB0", "\xB9", std::string_view("\0", 1)};
    for (int round = 0; round < 40000; ++round) {
        const std::size_t whole = random() % (round % 2 ? 10 : 22), fraction = random() % (round % 2 ? 10 : 22);
        const bool point = fraction > 0 || random() % 3 == 0;
        const std::string sign = random() % 4 == 0 ? "-" : "", head = digits(whole) + (point ? "." : "");
        const std::string_view tail = after[random() % std::size(after)];
        const std::string text = sign + head + digits(fraction) + std::string(tail) + std::string(round % 10, ' ');
        const char *begin = text.data() + sign.size(), *end = text.data() + text.size();
        double got = 0, want = 0;
        const char* stop = scan_short_decimal(text.data(), end, got);
        auto [ptr, ec] = std::from_chars(begin, end, want);
        // Without an exponent, read or cut short, and with at most 15 digits the scanner must take the number.
        const auto read_digits = std::count_if(begin, ptr, [](char c) { return c >= '0' && c <= '9'; });
        if (ec == std::errc() && tail.find_first_of("eE") == std::string_view::npos && read_digits <= 15)
            EXPECT_NE(stop, nullptr) << text;
        if (stop == nullptr) continue;
        ASSERT_EQ(ec, std::errc()) << text;
        EXPECT_EQ(stop, ptr) << text;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(sign.empty() ? want : -want)) << text;
    }
}

// Tallies are kept per 16-byte lane and added up every 255 blocks: lengths
// around both, and a text of nothing but the byte.
TEST(Rows, CountByteMatchesACount) {
    std::mt19937_64 random(3);
    for (std::size_t size : {0, 1, 15, 16, 17, 31, 33, 4079, 4080, 4081, 4096, 20000}) {
        std::string text(size, '\n');
        EXPECT_EQ(count_byte(text, '\n'), size);
        for (char& c : text) c = "a\n\xE2 "[random() % 4];
        EXPECT_EQ(count_byte(text, '\n'), static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
        EXPECT_EQ(count_byte(text, '\xE2'), static_cast<std::size_t>(std::count(text.begin(), text.end(), '\xE2')));
    }
}

// How fields split, and rows with more columns or an unreadable field, are
// shown by the readers' own tests (test_chi); what is left here are lines and
// the rows that lack a field.
TEST(Rows, LinesAndTheFirstTwoFields) {
    check({{"", ""}, {"a\n", "[a]"}, {"a\r\nb", "[a][b]"}, {"\n\n", "[][]"}, {"a\r", "[a\r]"}, {"a\r\r\n", "[a\r]"}},
          [](const std::string& t) {
              std::string out;
              std::string_view l;
              for (Lines lines(t); lines.next(l);) out += "[" + std::string(l) + "]";
              return out;
          });
    // Both of the first two fields must exist before either is read.
    check({{"  ", "Parse error: T: missing position"}, {"abc", "Parse error: T: missing intensity"}},
          [](const std::string& line) { return error_text(xy_row(line, "T")); });
    EXPECT_EQ(error_text(pattern({1, 2, 3}, {1, 2}, "T")), "Parse error: T: no complete x/y pattern found");
}

TEST(Labels, AxisKeysRefusalsAndTheQuotedForm) {
    check({{"2 Theta_rad", "2thetarad"}, {"Θ-Σ", "θσ"}}, axis_key);
    for (const char* refused : {"Omega", "2Theta rad", "PHI", "d", "T_O_F"})
        EXPECT_FALSE(check_axis(refused, "T")) << refused;
    for (const char* accepted : {"2-Theta", "TwoTheta", "", "2θ", "Theta2", "qq"})
        EXPECT_TRUE(check_axis(accepted, "T")) << accepted;
    using namespace std::string_literals;
    check({{"abc", "\"abc\""}, {"a\"b\\c'd", "\"a\\\"b\\\\c'd\""}, {"\t\r\n\0"s, "\"\\t\\r\\n\\0\""},
           {"\x01\x7f", "\"\\u{1}\\u{7f}\""}, {"2θ", "\"2θ\""}, {"e\u0301", "\"e\\u{301}\""},
           {"a\u00A0b\uFEFF", "\"a\\u{a0}b\\u{feff}\""}, {"\uFFFD", "\"\uFFFD\""}},
          quoted);
}

}  // namespace
}  // namespace difrax::text
