// The rules shared by the column text readers: lines, fields, the decimal
// number grammar, two-column rows, result assembly, axis labels and the quoted
// form in which messages show tokens and labels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "difrax/difrax.hpp"
#include "load/points.hpp"
#include "text/unicode.hpp"

namespace difrax::text {

// The line that starts at `p` (before `end`), with `p` moved past its LF:
// a CR directly before the LF is dropped; a last line without LF runs to
// `end` as it is.
inline std::string_view take_line(const char*& p, const char* end) noexcept {
    const void* feed = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (feed == nullptr) {
        std::string_view line(p, static_cast<std::size_t>(end - p));
        p = end;
        return line;
    }
    const char* stop = static_cast<const char*>(feed);
    std::string_view line(p, static_cast<std::size_t>(stop - p));
    p = stop + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Lines of a text: split at LF, a CR directly before the LF dropped, a last
// line without LF counted; an empty text has no lines.
class Lines {
public:
    explicit Lines(std::string_view text) noexcept : rest_(text) {}
    bool next(std::string_view& line) noexcept {
        if (rest_.empty()) return false;
        const char* p = rest_.data();
        const char* const end = p + rest_.size();
        line = take_line(p, end);
        rest_ = std::string_view(p, static_cast<std::size_t>(end - p));
        return true;
    }
    // What has not been handed out yet.
    std::string_view rest() const noexcept { return rest_; }

private:
    std::string_view rest_;
};

// How many times the byte occurs in the text (line feeds, to judge how many
// rows a text holds), counted 16 bytes at a time.
std::size_t count_byte(std::string_view text, char byte) noexcept;

// Room for the rows of a column text, judged from the lines of its first
// 64 KiB: row widths differ between files (12 bytes to over 40) but hardly
// within one. A row takes at least 4 bytes ("1 2" and its line feed),
// whatever the sample says.
std::size_t expected_rows(std::string_view text) noexcept;

// How many lines of the text pass the test.
template <class Test>
std::uint64_t count_lines(std::string_view text, Test&& test) {
    Lines lines(text);
    std::string_view line;
    std::uint64_t n = 0;
    while (lines.next(line))
        if (test(line)) ++n;
    return n;
}

// Instruments write short decimals ("38.020000", "1277", "-1.5e3"). When the
// digits fit in 53 bits and the power of ten is at most 22, one
// multiplication or division of two exact doubles is correctly rounded, so
// these are converted directly. Reads such a number (optional sign, digits
// with an optional point and digits, optional exponent of at most four
// digits) from the start of [p, end) and returns where it stops, or nullptr
// when the text there is not a short decimal (long mantissas, large
// exponents, anything outside the grammar): the full conversion decides those.
inline const char* scan_short_decimal(const char* p, const char* end, double& value) noexcept {
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    auto digit = [](const char* q, const char* e) { return q != e && static_cast<unsigned char>(*q - '0') < 10; };
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::uint64_t mantissa = 0;
    int digits = 0, fraction = 0;
    for (; digit(p, end); ++p, ++digits) mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    if (p != end && *p == '.')
        for (++p; digit(p, end); ++p, ++digits, ++fraction) mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    if (digits == 0 || digits > 19 || mantissa > (std::uint64_t{1} << 53)) return nullptr;
    int exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative_exponent = false;
        if (p != end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
        int exp_digits = 0;
        for (; digit(p, end) && exp_digits < 4; ++p, ++exp_digits) exponent = exponent * 10 + (*p - '0');
        if (exp_digits == 0 || digit(p, end)) return nullptr;
        if (negative_exponent) exponent = -exponent;
    }
    const int power = exponent - fraction;
    const double m = static_cast<double>(mantissa);
    double v;
    if (power >= 0 && power <= 22)
        v = m * powers[power];
    else if (power < 0 && power >= -22)
        v = m / powers[-power];
    else
        return nullptr;
    value = negative ? -v : v;
    return p;
}

// Reads a token with the decimal number grammar: optional sign; digits with
// an optional point, or a point and digits; optional exponent (e or E,
// optional sign, digits); or inf, infinity, nan in any case with an optional
// sign. Too large becomes an infinity, too small zero. Nothing when the token
// is outside the grammar.
std::optional<double> decimal(std::string_view token) noexcept;

// decimal(), falling back to Fortran "D" exponents (1.5D3); refuses what does
// not read ("Invalid numeric value ...") and non-finite values ("Non-finite
// numeric value ...").
Result<double> number(std::string_view token);

// Splits a line into the runs between separators: white space, and commas
// too when `Commas` is set. Works on the bytes, with ASCII decided inline
// and other characters looked up only when they occur.
template <bool Commas>
class Splitter {
public:
    explicit Splitter(std::string_view line) noexcept : line_(line) {}

    bool next(std::string_view& piece) noexcept {
        const std::size_t n = line_.size();
        while (pos_ < n) {
            std::size_t sep = separator(pos_);
            if (sep == 0) break;
            pos_ += sep;
        }
        if (pos_ >= n) return false;
        const std::size_t start = pos_;
        while (pos_ < n) {
            auto b = static_cast<unsigned char>(line_[pos_]);
            if (b < 0x80) {
                if (ascii_separator(b)) break;
                ++pos_;
            } else {
                if (space_length(line_, pos_) != 0) break;
                pos_ += b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            }
        }
        piece = line_.substr(start, pos_ - start);
        return true;
    }

private:
    static constexpr bool ascii_separator(unsigned char b) noexcept {
        return b == ' ' || (b >= 0x09 && b <= 0x0D) || (Commas && b == ',');
    }
    std::size_t separator(std::size_t i) const noexcept {
        auto b = static_cast<unsigned char>(line_[i]);
        if (b < 0x80) return ascii_separator(b) ? 1 : 0;
        return space_length(line_, i);
    }

    std::string_view line_;
    std::size_t pos_ = 0;
};

// Fields of a data line: separated by white space and commas.
using Fields = Splitter<true>;
// Words: separated by white space only.
using Words = Splitter<false>;

// Nearly every data row is written by a program: ASCII blanks, then two
// short decimals separated by blanks (or commas, with `Commas`), then perhaps
// more columns. Such a row is read straight from the bytes, in one pass, and
// `p` moves past its line feed; the rest of the line is not read, only
// searched for a NUL with `RefuseNul`. Any other line (text, other white
// space, long or special numbers, a single field, a NUL) gives false and is
// left to the reader's line rules, which read such a row the same way.
template <bool Commas, bool RefuseNul = false>
[[gnu::always_inline]] inline bool quick_row(const char*& p, const char* end, double& a, double& b) noexcept {
    constexpr auto separator = [](char c) { return c == ' ' || c == '\t' || (Commas && c == ','); };
    const char* q = p;
    while (q != end && (*q == ' ' || *q == '\t')) ++q;
    q = scan_short_decimal(q, end, a);
    if (q == nullptr || q == end || !separator(*q)) return false;
    while (++q != end && separator(*q)) {
    }
    q = scan_short_decimal(q, end, b);
    if (q == nullptr) return false;
    if (q != end && *q != '\n') {
        if (!separator(*q) && *q != '\r') return false;
        const char* line_end = static_cast<const char*>(std::memchr(q, '\n', static_cast<std::size_t>(end - q)));
        if (line_end == nullptr) line_end = end;
        if (RefuseNul && std::memchr(q, '\0', static_cast<std::size_t>(line_end - q)) != nullptr) return false;
        q = line_end;
    }
    p = q == end ? end : q + 1;
    return true;
}

std::vector<std::string_view> fields(std::string_view line);
std::vector<std::string_view> words(std::string_view line);

// First two fields of a data row as (x, y); further fields are ignored.
Result<std::pair<double, double>> xy_row(std::string_view line, std::string_view tag);

// The reader's result, or "{tag}: no complete x/y pattern found" when it is
// empty or the lengths differ.
Result<Points> pattern(std::vector<double> x, std::vector<double> y, std::string_view tag);

// Line values: every field of the line read with number(), appended.
Result<void> append_line_values(std::string_view line, std::vector<double>& out);
// White-space values: every word of the line read with number(), appended.
Result<void> append_white_space_values(std::string_view line, std::vector<double>& out);

// Axis label comparison key: white space, "-" and "_" removed, the rest
// lower-cased character by character.
std::string axis_key(std::string_view label);

// Refuses labels that name a known axis other than 2theta in degrees.
Result<void> check_axis(std::string_view label, std::string_view tag);

// The text between double quotes, with \" \\ \t \r \n \0 escapes and \u{..}
// for characters that are not printable or that extend a grapheme.
std::string quoted(std::string_view text);

// An unsigned decimal count: ASCII digits with one optional leading "+",
// fitting 64 bits.
std::optional<std::uint64_t> unsigned_decimal(std::string_view text) noexcept;

// Whether `s` equals `word` (lowercase) when A-Z in `s` are lowercased.
bool equals_ascii_nocase(std::string_view s, std::string_view word) noexcept;

// ASCII upper- and lower-casing (only A-Z / a-z change).
std::string ascii_upper(std::string_view s);
std::string ascii_lower(std::string_view s);

}  // namespace difrax::text
