// Free column text: every line whose first two fields read as numbers is a
// point; titles, headings, comments and other text lines are skipped wherever
// they stand.
#include "error/fail.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"

#include <cmath>

namespace difrax::text {
namespace {

constexpr bool ascii_space(unsigned char b) { return b == ' ' || (b >= 0x09 && b <= 0x0D); }

// The line trimmed of white space, then of leading byte-order-mark characters
// (U+FEFF, which concatenated exports leave inside the text). Lines that
// begin and end in ASCII, nearly all of them, are trimmed byte by byte.
std::string_view working_line(std::string_view line) {
    std::size_t b = 0, e = line.size();
    while (b < e && ascii_space(static_cast<unsigned char>(line[b]))) ++b;
    while (e > b && ascii_space(static_cast<unsigned char>(line[e - 1]))) --e;
    if (b == e || (static_cast<unsigned char>(line[b]) < 0x80 && static_cast<unsigned char>(line[e - 1]) < 0x80))
        return line.substr(b, e - b);
    std::string_view t = trim(line);
    while (t.starts_with("\xEF\xBB\xBF")) t.remove_prefix(3);
    return t;
}

bool is_comment(char first) {
    return first == ';' || first == '!' || first == '#' || first == '\'' || first == '/';
}

}  // namespace

Result<Points> parse_xy(std::span<const std::byte> data) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    const std::string_view text = decoded->view();

    std::vector<double> x, y;
    const std::size_t rows = expected_rows(text);
    reserve_values(x, rows);
    reserve_values(y, rows);

    // A NUL anywhere in a line marks binary data: rows read straight from
    // the bytes hold none in what they read, and their unread rest is
    // searched for one. Every stored value is finite; the order of the
    // angles is followed as they are stored, so that validation need not
    // read the pattern again.
    bool increasing = true;
    double previous = -HUGE_VAL;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        double angle, intensity;
        if (quick_row<true, true>(p, end, angle, intensity)) {
            increasing &= previous < angle;
            previous = angle;
            x.push_back(angle);
            y.push_back(intensity);
            continue;
        }
        std::string_view work = working_line(take_line(p, end));
        if (work.find('\0') != std::string_view::npos)
            return parse_error("Binary data supplied to an ASCII pattern reader");
        if (work.empty() || is_comment(work.front())) continue;
        Fields split(work);
        std::string_view first, second;
        if (!split.next(first) || !split.next(second)) continue;
        auto a = decimal(first);
        if (!a) continue;
        auto b = decimal(second);
        if (!b) continue;
        if (!std::isfinite(*a) || !std::isfinite(*b)) return parse_error("ASCII pattern contains a non-finite value");
        increasing &= previous < *a;
        previous = *a;
        x.push_back(*a);
        y.push_back(*b);
    }
    auto points = pattern(std::move(x), std::move(y), "ASCII");
    if (points) points->checked = increasing;
    return points;
}

}  // namespace difrax::text
