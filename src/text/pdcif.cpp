// Powder CIF profiles (the pdCIF dictionary): a data block holds the measured
// or processed intensities in a loop, and its 2theta axis either as a loop
// column of angles or as a start, step and end given once. Structure and
// publication blocks of the same file carry no profile and are passed over.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "error/fail.hpp"
#include "parser/decode.hpp"
#include "text/cif.hpp"
#include "text/readers.hpp"
#include "text/rules.hpp"

namespace difrax::text {
namespace {

// An axis given as a start, a step and (optionally) an end.
struct RangeTags {
    std::string_view min, inc, max;
};

constexpr RangeTags processed_range{"_pd_proc_2theta_range_min", "_pd_proc_2theta_range_inc",
                                    "_pd_proc_2theta_range_max"};
constexpr RangeTags measured_range{"_pd_meas_2theta_range_min", "_pd_meas_2theta_range_inc",
                                   "_pd_meas_2theta_range_max"};

bool is_ascii_digits(std::string_view s) noexcept {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

const std::string_view* single_value(const CifBlock& block, std::string_view tag) {
    auto it = block.single_values.find(tag);
    return it == block.single_values.end() ? nullptr : &it->second;
}

Result<std::optional<std::vector<double>>> column_axis(CifBlock& block, std::string_view tag) {
    CifColumn* column = cif_column(block, {tag});
    if (!column) return std::nullopt;
    auto axis = cif_numbers(*column);
    if (!axis) return std::unexpected(std::move(axis.error()));
    return std::move(*axis);
}

// The profile columns: the intensities in order of preference, then the two
// 2theta columns.
constexpr std::string_view numeric_tags[] = {"_pd_proc_intensity_total", "_pd_meas_intensity_total",
                                             "_pd_meas_counts_total", "_pd_proc_2theta_corrected",
                                             "_pd_meas_2theta_scan"};
constexpr std::span<const std::string_view> intensity_tags = std::span(numeric_tags).first<3>();

// Whether `part` stands in `text`. The C library's memmem runs in time linear
// in both (a naive search takes their product: a long block option against
// long block names).
bool contains(std::string_view text, std::string_view part) noexcept {
    if (part.empty()) return true;
    return part.size() <= text.size() && ::memmem(text.data(), text.size(), part.data(), part.size()) != nullptr;
}

// Whether a block can hold the profile asked for: its name holds the text
// of the block option, and it has a non-empty intensity column. Every other
// block is passed over.
bool may_hold_profile(const CifBlock& candidate, const std::optional<std::string>& block) {
    if (block && !contains(candidate.name, *block)) return false;
    return std::ranges::any_of(intensity_tags, [&](std::string_view tag) {
        auto it = candidate.loop_columns.find(tag);
        return it != candidate.loop_columns.end() && it->second.size != 0;
    });
}

// Each angle is computed from the start, never by adding steps up, so the
// error does not grow along the scan. The end, when given, must match the
// last angle within a millionth of a step.
Result<std::optional<std::vector<double>>> range_axis(const CifBlock& block, const RangeTags& tags,
                                                      std::size_t count) {
    const std::string_view* min_text = single_value(block, tags.min);
    const std::string_view* inc_text = single_value(block, tags.inc);
    if (!min_text || !inc_text) return std::nullopt;
    auto min = cif_number(*min_text);
    if (!min) return std::unexpected(std::move(min.error()));
    auto inc = cif_number(*inc_text);
    if (!inc) return std::unexpected(std::move(inc.error()));
    if (*inc <= 0) return parse_error("pdCIF: 2theta increment must be positive");

    std::vector<double> axis(count);
    for (std::size_t i = 0; i < count; ++i) axis[i] = *min + *inc * static_cast<double>(i);

    if (const std::string_view* max_text = single_value(block, tags.max); max_text) {
        auto max = cif_number(*max_text);
        if (!max) return std::unexpected(std::move(max.error()));
        // With no point there is no last angle to hold the end against.
        if (!axis.empty() && std::abs(axis.back() - *max) > std::abs(*inc) * 1e-6 + 1e-8)
            return parse_error("pdCIF: angular range disagrees with point count");
    }
    return axis;
}

}  // namespace

Result<double> cif_number(std::string_view text) {
    // Profiles are columns of short decimals, a few with an uncertainty:
    // "1246" and "1246(35)" read here in one pass; anything else by the rules.
    const char* end = text.data() + text.size();
    double quick;
    if (const char* stop = scan_cif_short_number(text.data(), end, quick); stop != nullptr && stop == end) return quick;
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos) return number(text);
    const std::string_view rest = text.substr(open + 1);
    const std::size_t close = rest.find(')');
    if (close == std::string_view::npos || close == 0 || !is_ascii_digits(rest.substr(0, close)))
        return parse_error("pdCIF: malformed numeric uncertainty");

    const std::string_view before = text.substr(0, open);
    const std::string_view after = rest.substr(close + 1);
    const std::size_t size = before.size() + after.size();
    char small[64];
    if (size <= sizeof small) {
        std::memcpy(small, before.data(), before.size());
        std::memcpy(small + before.size(), after.data(), after.size());
        return number({small, size});
    }
    std::string joined;
    joined.reserve(size);
    joined.append(before).append(after);
    return number(joined);
}

const CifNumericTags pdcif_numeric_tags{numeric_tags};

CifColumn* cif_column(CifBlock& block, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
        auto it = block.loop_columns.find(name);
        if (it != block.loop_columns.end() && it->second.size != 0) return &it->second;
    }
    return nullptr;
}

Result<std::vector<double>> cif_numbers(CifColumn& column) {
    if (column.fault) return std::unexpected(*column.fault);
    reserve_values(column.numbers, column.size);
    for (std::size_t i = column.numbers.size(); i < column.texts.size(); ++i) {
        auto v = cif_number(column.texts[i]);
        if (!v) return std::unexpected(std::move(v.error()));
        column.numbers.push_back(*v);
    }
    return std::move(column.numbers);
}

Result<std::optional<std::vector<double>>> cif_2theta_axis(CifBlock& block, std::size_t count) {
    auto axis = column_axis(block, "_pd_proc_2theta_corrected");
    if (!axis || *axis) return axis;
    axis = range_axis(block, processed_range, count);
    if (!axis || *axis) return axis;
    axis = column_axis(block, "_pd_meas_2theta_scan");
    if (!axis || *axis) return axis;
    return range_axis(block, measured_range, count);
}

Result<Points> parse_pdcif(std::span<const std::byte> data, const std::optional<std::string>& block) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    // Blocks without a profile (publication, structure) are let go as they end.
    auto blocks = cif_blocks(decoded->view(), pdcif_numeric_tags,
                             [&](const CifBlock& candidate) { return may_hold_profile(candidate, block); });
    if (!blocks) return std::unexpected(std::move(blocks.error()));

    for (CifBlock& candidate : *blocks) {
        CifColumn* intensities = cif_column(candidate, {intensity_tags[0], intensity_tags[1], intensity_tags[2]});
        if (!intensities) continue;
        auto y = cif_numbers(*intensities);
        if (!y) return std::unexpected(std::move(y.error()));
        auto x = cif_2theta_axis(candidate, y->size());
        if (!x) return std::unexpected(std::move(x.error()));
        if (!*x) continue;
        if ((*x)->size() != y->size()) return parse_error("pdCIF: 2theta and intensity columns have different lengths");
        return pattern(std::move(**x), std::move(*y), "pdCIF");
    }
    return parse_error("pdCIF: no matching block with 2theta and intensity data");
}

}  // namespace difrax::text
