#include "text/rules.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "error/fail.hpp"
#include "text/unicode.hpp"

namespace difrax::text {
namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// When the conversion reports a value out of range, the decimal exponent of
// its leading significant digit tells an overflow (an infinity) from an
// underflow (zero). `p` to `end` is a token of the grammar, without sign.
double out_of_range_value(const char* p, const char* end) noexcept {
    long long lead = 0;
    bool seen_nonzero = false;
    for (; p != end && is_digit(*p); ++p) {
        if (seen_nonzero)
            ++lead;
        else if (*p != '0')
            seen_nonzero = true;
    }
    if (p != end && *p == '.') {
        long long position = 0;
        for (++p; p != end && is_digit(*p); ++p) {
            ++position;
            if (!seen_nonzero && *p != '0') {
                seen_nonzero = true;
                lead = -position;
            }
        }
    }
    long long exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = p != end && *p == '-';
        if (p != end && (*p == '+' || *p == '-')) ++p;
        for (; p != end && is_digit(*p); ++p)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return lead + exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

std::size_t count_byte(std::string_view text, char byte) noexcept {
    using Block = unsigned char __attribute__((vector_size(16)));
    std::size_t total = 0, i = 0;
    // Per-lane tallies hold at most 255 before they are added up.
    while (text.size() - i >= sizeof(Block)) {
        Block tallies{};
        const std::size_t blocks = std::min<std::size_t>((text.size() - i) / sizeof(Block), 255);
        for (std::size_t b = 0; b < blocks; ++b, i += sizeof(Block)) {
            Block block;
            std::memcpy(&block, text.data() + i, sizeof block);
            tallies -= reinterpret_cast<Block>(block == static_cast<unsigned char>(byte));
        }
        for (std::size_t lane = 0; lane < sizeof(Block); ++lane) total += tallies[lane];
    }
    for (; i < text.size(); ++i) total += text[i] == byte;
    return total;
}

std::size_t expected_rows(std::string_view text) noexcept {
    constexpr std::size_t sample = 64 * 1024;
    const std::size_t most = text.size() / 4 + 1;
    std::string_view head = text.substr(0, sample);
    const std::size_t lines = count_byte(head, '\n') + 1;
    if (head.size() == text.size()) return std::min(lines, most);
    const double scaled = static_cast<double>(lines) * 1.05 * static_cast<double>(text.size()) / sample;
    return std::min(static_cast<std::size_t>(scaled) + 64, most);
}

std::optional<double> decimal(std::string_view s) noexcept {
    const char* p = s.data();
    const char* end = p + s.size();
    if (p == end) return std::nullopt;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        if (++p == end) return std::nullopt;
    }
    if (is_digit(*p) || *p == '.') {
        double quick = 0.0;
        if (scan_short_decimal(p, end, quick) == end) return negative ? -quick : quick;
        // For a text that starts with a digit or a point, the conversion's
        // own pattern is exactly the grammar (digits, optional point and
        // digits, at least one digit, optional exponent with digits); it
        // must take the whole token. Checking and converting is one pass.
        double value = 0.0;
        auto [ptr, ec] = std::from_chars(p, end, value, std::chars_format::general);
        if (ptr != end) return std::nullopt;
        if (ec == std::errc::result_out_of_range)
            value = out_of_range_value(p, end);
        else if (ec != std::errc())
            return std::nullopt;
        return negative ? -value : value;
    }
    std::string_view word(p, static_cast<std::size_t>(end - p));
    double v;
    if (equals_ascii_nocase(word, "inf") || equals_ascii_nocase(word, "infinity"))
        v = std::numeric_limits<double>::infinity();
    else if (equals_ascii_nocase(word, "nan"))
        v = std::numeric_limits<double>::quiet_NaN();
    else
        return std::nullopt;
    return negative ? -v : v;
}

Result<double> number(std::string_view token) {
    std::optional<double> value = decimal(token);
    if (!value && token.find_first_of("Dd") != std::string_view::npos) {
        std::string copy(token);
        for (char& c : copy)
            if (c == 'D' || c == 'd') c = 'E';
        value = decimal(copy);
    }
    if (!value) return parse_error("Invalid numeric value " + quoted(token));
    if (!std::isfinite(*value)) return parse_error("Non-finite numeric value " + quoted(token));
    return *value;
}

namespace {

template <class Split>
std::vector<std::string_view> all_pieces(std::string_view line) {
    std::vector<std::string_view> out;
    Split split(line);
    std::string_view piece;
    while (split.next(piece)) out.push_back(piece);
    return out;
}

}  // namespace

std::vector<std::string_view> fields(std::string_view line) { return all_pieces<Fields>(line); }
std::vector<std::string_view> words(std::string_view line) { return all_pieces<Words>(line); }

Result<std::pair<double, double>> xy_row(std::string_view line, std::string_view tag) {
    Fields split(line);
    std::string_view first, second;
    if (!split.next(first)) return parse_error(std::string(tag) + ": missing position");
    if (!split.next(second)) return parse_error(std::string(tag) + ": missing intensity");
    auto x = number(first);
    if (!x) return std::unexpected(std::move(x.error()));
    auto y = number(second);
    if (!y) return std::unexpected(std::move(y.error()));
    return std::pair{*x, *y};
}

Result<Points> pattern(std::vector<double> x, std::vector<double> y, std::string_view tag) {
    if (x.empty() || x.size() != y.size())
        return parse_error(std::string(tag) + ": no complete x/y pattern found");
    return Points{std::move(x), std::move(y)};
}

namespace {

template <class Split>
Result<void> append_values(std::string_view line, std::vector<double>& out) {
    Split split(line);
    std::string_view piece;
    while (split.next(piece)) {
        auto value = number(piece);
        if (!value) return std::unexpected(std::move(value.error()));
        out.push_back(*value);
    }
    return {};
}

}  // namespace

Result<void> append_line_values(std::string_view line, std::vector<double>& out) {
    return append_values<Fields>(line, out);
}

Result<void> append_white_space_values(std::string_view line, std::vector<double>& out) {
    return append_values<Words>(line, out);
}

std::string axis_key(std::string_view label) {
    std::string kept;
    kept.reserve(label.size());
    std::size_t i = 0;
    while (i < label.size()) {
        std::size_t start = i;
        char32_t c = next_char(label, i);
        if (is_space(c) || c == '-' || c == '_') continue;
        kept.append(label.substr(start, i - start));
    }
    return lower_each(kept);
}

Result<void> check_axis(std::string_view label, std::string_view tag) {
    static constexpr std::string_view refused[] = {"x",     "y",     "z",    "d",    "q",     "phi",
                                                   "chi",   "khi",   "psi",  "tof",  "beta",  "time",
                                                   "theta", "omega", "alpha", "2thetarad"};
    std::string key = axis_key(label);
    for (std::string_view r : refused)
        if (key == r)
            return parse_error(std::string(tag) + ": axis " + quoted(label) + " is not 2theta in degrees");
    return {};
}

std::string quoted(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        char32_t c = next_char(text, i);
        switch (c) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\t': out += "\\t"; continue;
        case '\r': out += "\\r"; continue;
        case '\n': out += "\\n"; continue;
        case 0: out += "\\0"; continue;
        default: break;
        }
        if (is_printable(c) && !is_grapheme_extend(c)) {
            out.append(text.substr(start, i - start));
            continue;
        }
        out += "\\u{";
        bool started = false;
        for (int shift = 20; shift >= 0; shift -= 4) {
            unsigned digit = (c >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                out.push_back(hex[digit]);
                started = true;
            }
        }
        out.push_back('}');
    }
    out.push_back('"');
    return out;
}

std::optional<std::uint64_t> unsigned_decimal(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!is_digit(c)) return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool equals_ascii_nocase(std::string_view s, std::string_view word) noexcept {
    if (s.size() != word.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace difrax::text
