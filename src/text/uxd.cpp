// Bruker UXD text (DIFFRAC plus exports and XCH conversions of RAW files):
// ";" comments, "_KEY=VALUE" header lines, and block markers each opening one
// scan. _2THETACOUNTS and _2THETACPS blocks hold angle/intensity rows; _COUNTS
// and _CPS blocks hold intensities only, their angles following from the
// _START and _STEPSIZE in force when the block opened. _DRIVE names the axis.
#include <array>
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

bool is_block_marker(std::string_view line) {
    static constexpr std::array<std::string_view, 4> markers = {"_2THETACOUNTS", "_2THETACPS", "_COUNTS", "_CPS"};
    for (std::string_view marker : markers)
        if (line == marker) return true;
    return false;
}

bool opens_two_columns(std::string_view marker) { return marker.starts_with("_2THETA"); }

// The header values a scan is read with. Keys are case-insensitive and a
// later assignment replaces an earlier one; of all the keys a UXD file sets,
// only these three shape a pattern.
struct Header {
    std::optional<std::string_view> drive;
    std::optional<std::string_view> start;
    std::optional<std::string_view> step_size;

    // A "_KEY = 'value'" line: the key is trimmed and compared without case,
    // the value loses its white space and then any quotes of either kind.
    void assign(std::string_view line, std::size_t equals) {
        std::string_view key = trim(line.substr(1, equals - 1));
        std::string_view value = trim(line.substr(equals + 1));
        std::size_t first = value.find_first_not_of("'\"");
        value = first == std::string_view::npos ? std::string_view() : value.substr(first);
        value = value.substr(0, value.find_last_not_of("'\"") + 1);
        if (equals_ascii_nocase(key, "drive")) drive = value;
        else if (equals_ascii_nocase(key, "start")) start = value;
        else if (equals_ascii_nocase(key, "stepsize")) step_size = value;
    }
};

// Angles of a counts-only scan, from the header in force at its marker.
Result<std::vector<double>> counts_axis(const Header& header, std::size_t points) {
    if (!header.start) return parse_error("UXD: missing _START for counts-only data");
    auto start = number(*header.start);
    if (!start) return std::unexpected(std::move(start.error()));
    if (!header.step_size) return parse_error("UXD: missing _STEPSIZE for counts-only data");
    auto step = number(*header.step_size);
    if (!step) return std::unexpected(std::move(step.error()));
    if (*step == 0.0) return parse_error("UXD: _STEPSIZE must be nonzero");
    std::vector<double> x;
    reserve_values(x, points);
    for (std::size_t i = 0; i < points; ++i) {
        // Product and sum rounded one by one, so that every build and
        // platform gives the same angles.
        const double offset = *step * static_cast<double>(i);
        x.push_back(*start + offset);
    }
    return x;
}

}  // namespace

Result<Points> parse_uxd(std::span<const std::byte> data, std::uint64_t index) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    Lines lines(decoded->view());

    Header header;
    Header scan_header;
    std::optional<std::string_view> marker;
    std::uint64_t scan = 0;
    std::vector<double> x, y;

    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view line = trim(raw);
        if (line.empty() || line.front() == ';') continue;
        if (is_block_marker(line)) {
            if (marker && scan == index) break;
            if (marker) ++scan;
            if (scan == index) scan_header = header;
            marker = line;
        } else if (line.front() == '_') {
            std::size_t equals = line.find('=');
            if (equals == std::string_view::npos) return parse_error("UXD: unsupported block marker " + quoted(line));
            header.assign(line, equals);
        } else {
            if (!marker) return parse_error("UXD: data precedes a counts block");
            if (scan != index) continue;
            if (opens_two_columns(*marker)) {
                auto point = xy_row(line, "UXD");
                if (!point) return std::unexpected(std::move(point.error()));
                x.push_back(point->first);
                y.push_back(point->second);
            } else if (auto ok = append_line_values(line, y); !ok) {
                return std::unexpected(std::move(ok.error()));
            }
        }
    }
    if (!marker || scan != index) return parse_error("UXD: scan " + std::to_string(index) + " is out of range");
    if (auto ok = check_axis(scan_header.drive.value_or(""), "UXD"); !ok) return std::unexpected(std::move(ok.error()));
    if (!x.empty() || y.empty()) return pattern(std::move(x), std::move(y), "UXD");
    auto axis = counts_axis(scan_header, y.size());
    if (!axis) return std::unexpected(std::move(axis.error()));
    return pattern(std::move(*axis), std::move(y), "UXD");
}

Result<std::uint64_t> count_uxd_scans(std::span<const std::byte> data) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    return count_lines(decoded->view(), [](std::string_view line) { return is_block_marker(trim(line)); });
}

}  // namespace difrax::text
