// CHI profiles (Fit2D chiplot, and the pyFAI/Dioptas exports that copy it):
// a title line, the x-axis label, the intensity label, the point-count line,
// then one point per line. The x axis is whatever the integrating program was
// asked for, so the label decides whether the profile is 2theta in degrees.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "error/fail.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"

namespace difrax::text {
namespace {

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Whether any maximal run of letters and digits of the label is one of the
// words that name a non-2theta axis (d-spacing, q, detector pixels, radial
// distance, channels).
bool has_other_axis_word(std::string_view lowered) {
    static constexpr std::array<std::string_view, 5> other_words = {"d", "q", "pixel", "radial", "channel"};
    auto is_other = [](std::string_view word) { return std::ranges::find(other_words, word) != other_words.end(); };
    std::size_t i = 0;
    std::size_t word_start = 0;
    while (i < lowered.size()) {
        std::size_t at = i;
        if (is_alphanumeric(next_char(lowered, i))) continue;
        if (is_other(lowered.substr(word_start, at - word_start))) return true;
        word_start = i;
    }
    return is_other(lowered.substr(word_start));
}

// Integration programs write the unit beside the axis name: "2-Theta Angle
// (Degrees)", "Q (nm^-1)", "q_A^-1", "d-spacing (A)", "Radial distance (mm)".
// A mention of 2theta outweighs a stray q or d elsewhere in the label, but
// not a unit in radians. A label naming no axis at all is taken as 2theta in
// degrees.
Result<void> check_chi_axis(std::string_view label) {
    std::string lowered = lower(label);
    std::string key = axis_key(lowered);
    bool mentions_2theta =
        contains(key, "2theta") || contains(key, "2th") || contains(key, "tth") || contains(key, "θ");
    bool names_other = has_other_axis_word(lowered) || key.starts_with("qnm") || key.starts_with("qa") ||
                       contains(key, "dspacing");
    bool in_radians = contains(lowered, "radian") || contains(lowered, "(rad)");
    if ((names_other && !mentions_2theta) || in_radians)
        return parse_error("CHI: x axis " + quoted(lowered) + " is not 2theta in degrees");
    return {};
}

// The fourth header line: the number of points, optionally followed by the
// number of datasets, which must be 1.
Result<std::uint64_t> point_count(std::string_view line) {
    Words words(line);
    std::string_view count_word, datasets, extra;
    if (!words.next(count_word)) return parse_error("CHI: invalid point count");
    auto count = unsigned_decimal(count_word);
    if (!count) return parse_error("CHI: invalid point count");
    if (words.next(datasets) && datasets != "1")
        return parse_error("CHI: only one dataset per profile is supported");
    if (words.next(extra)) return parse_error("CHI: invalid point-count header");
    return *count;
}

}  // namespace

Result<Points> parse_chi(std::span<const std::byte> data) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    Lines lines(decoded->view());

    std::string_view title, axis_label, intensity_label, count_line;
    if (!lines.next(title)) return parse_error("CHI: missing four-line header");
    if (!lines.next(axis_label)) return parse_error("CHI: missing x axis label");
    if (auto axis = check_chi_axis(axis_label); !axis) return std::unexpected(std::move(axis.error()));
    if (!lines.next(intensity_label)) return parse_error("CHI: missing intensity label");
    if (!lines.next(count_line)) return parse_error("CHI: missing point count");
    auto count = point_count(count_line);
    if (!count) return std::unexpected(std::move(count.error()));

    // The shortest point line ("1 2" and its LF) takes 4 bytes: never reserve
    // more than the text can hold, whatever the header declares.
    std::size_t room = std::min<std::uint64_t>(*count, lines.rest().size() / 4 + 1);
    std::vector<double> x, y;
    reserve_values(x, room);
    reserve_values(y, room);
    std::string_view line;
    while (lines.next(line)) {
        if (trim(line).empty()) continue;
        auto point = xy_row(line, "CHI");
        if (!point) return std::unexpected(std::move(point.error()));
        x.push_back(point->first);
        y.push_back(point->second);
    }
    if (x.size() != *count)
        return parse_error("CHI: header declares " + std::to_string(*count) + " points but " +
                           std::to_string(x.size()) + " were read");
    return pattern(std::move(x), std::move(y), "CHI");
}

}  // namespace difrax::text
