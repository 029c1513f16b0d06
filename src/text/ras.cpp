// Rigaku RAS text (SmartLab, Ultima): a run of scans, each a header of
// "*KEY value" lines and an intensity block between *RAS_INT_START and
// *RAS_INT_END whose lines hold angle, intensity and, on newer instruments,
// an attenuator factor. Scans are counted by their intensity blocks.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "error/fail.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"

namespace difrax::text {
namespace {

struct HeaderLine {
    std::string_view key;
    std::string_view value;
};

// Splits a trimmed header line at its first white space; the value loses the
// double quotes RAS writes around every value. A line without white space
// carries no value.
std::optional<HeaderLine> header_line(std::string_view line) {
    for (std::size_t i = 0; i < line.size();) {
        if (std::size_t space = space_length(line, i); space != 0) {
            std::string_view value = trim(line.substr(i + space));
            std::size_t first = value.find_first_not_of('"');
            value = first == std::string_view::npos ? std::string_view() : value.substr(first);
            value = value.substr(0, value.find_last_not_of('"') + 1);
            return HeaderLine{line.substr(0, i), value};
        }
        next_char(line, i);
    }
    return std::nullopt;
}

// *MEAS_DATA_COUNT: an unsigned decimal integer. SmartLab and its Guidance
// software write the count as a real number with a zero fraction
// ("1401.0000000000"), so a decimal point followed only by zeros declares the
// same count; any other fraction is no point count.
std::optional<std::uint64_t> declared_count(std::string_view value) {
    if (std::size_t point = value.find('.'); point != std::string_view::npos) {
        std::string_view fraction = value.substr(point + 1);
        if (fraction.empty() || fraction.find_first_not_of('0') != std::string_view::npos) return std::nullopt;
        value = value.substr(0, point);
    }
    return unsigned_decimal(value);
}

}  // namespace

Result<Points> parse_ras(std::span<const std::byte> data, std::uint64_t index) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    Lines lines(decoded->view());

    bool in_block = false;
    std::uint64_t scan = 0;
    std::string_view axis;
    std::optional<std::uint64_t> declared;
    std::vector<double> x, y;

    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view line = trim(raw);
        if (line.empty()) continue;
        if (line == "*RAS_INT_END") {
            if (!in_block) return parse_error("RAS: intensity block closes without an opening marker");
            if (scan == index) {
                if (declared.value_or(x.size()) != x.size())
                    return parse_error("RAS: declared point count disagrees with intensity block");
                return pattern(std::move(x), std::move(y), "RAS");
            }
            in_block = false;
            ++scan;
        } else if (line == "*RAS_INT_START") {
            if (in_block) return parse_error("RAS: nested intensity blocks");
            in_block = true;
            if (scan == index) {
                if (auto ok = check_axis(axis, "RAS"); !ok) return std::unexpected(std::move(ok.error()));
                // A point line takes at least 4 bytes ("1 2" and its LF):
                // never reserve more than the text can hold.
                if (declared) {
                    std::size_t room = std::min<std::uint64_t>(*declared, lines.rest().size() / 4 + 1);
                    reserve_values(x, room);
                    reserve_values(y, room);
                }
            }
        } else if (line == "*RAS_HEADER_START") {
            axis = {};
            declared.reset();
        } else if (in_block) {
            if (scan != index) continue;
            auto point = xy_row(line, "RAS");
            if (!point) return std::unexpected(std::move(point.error()));
            x.push_back(point->first);
            y.push_back(point->second);
        } else if (auto header = header_line(line)) {
            if (header->key == "*MEAS_DATA_COUNT") {
                declared = declared_count(header->value);
                if (!declared) return parse_error("RAS: invalid point count");
            } else if (header->key == "*MEAS_SCAN_AXIS_X") {
                axis = header->value;
            }
        }
    }
    if (in_block) return parse_error("RAS: file ends before *RAS_INT_END");
    return parse_error("RAS: scan " + std::to_string(index) + " is out of range (" + std::to_string(scan) +
                       " scans)");
}

Result<std::uint64_t> count_ras_scans(std::span<const std::byte> data) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    return count_lines(decoded->view(), [](std::string_view line) { return trim(line) == "*RAS_INT_START"; });
}

}  // namespace difrax::text
