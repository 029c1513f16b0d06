// Bruker RAW binary files. A file holds one or more measurement ranges:
// RAW3 ("RAW1.01") chains fixed range headers after a 712-byte file header;
// RAW4 ("RAW4.00") stores ranges as typed, length-prefixed segments whose
// drive records say which goniometer drive was scanned. The whole range
// structure is walked and checked first; then one range is chosen, and only
// then does a range that scans some axis other than 2theta become an error.
//
// Every number is little-endian. These files arrive from anywhere: every
// read is bounds-checked, every sum of an offset and a length taken from the
// file is overflow-checked, and every declared count is held against the file
// length before anything is reserved for it.
#include "bruker/raw.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/fail.hpp"
#include "load/points.hpp"
#include "parser/decode.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"

namespace difrax::bruker {
namespace {

using Bytes = std::span<const std::byte>;

constexpr std::uint64_t max_ranges = 4096;
// Range headers, extra records and drive headers are small; anything above
// this is a corrupt length, not a real header.
constexpr std::uint64_t max_header = 1'048'576;

// One measurement range as found by the walk; only the chosen one is decoded.
struct Range {
    // Why this range cannot be read as a 2theta pattern, if it cannot.
    std::optional<std::string> axis_problem;
    double start;
    double step;
    std::uint64_t points;
    std::uint64_t record_size;
    std::uint64_t data_start;
    std::uint64_t data_end;
    // RAW3 records may carry their own f64 angle after the intensity.
    bool angle_in_record;
};

std::unexpected<Error> fail(std::string_view message) {
    std::string text = "Bruker RAW: ";
    text += message;
    return parse_error(std::move(text));
}

std::string decimal(std::uint64_t value) { return std::to_string(value); }

std::string hexadecimal(std::uint32_t value) {
    char digits[8];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, 16);
    return "0x" + std::string(digits, end);
}

std::unexpected<Error> truncated(std::uint64_t offset, std::uint64_t needed, std::uint64_t length) {
    return fail("truncated record at offset " + decimal(offset) + ": needs " + decimal(needed) + " bytes, file has " +
                decimal(length));
}

std::optional<std::uint64_t> sum(std::uint64_t a, std::uint64_t b) {
    if (b > std::numeric_limits<std::uint64_t>::max() - a) return std::nullopt;
    return a + b;
}

std::optional<std::uint64_t> product(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::nullopt;
    return a * b;
}

// The `width` bytes at `offset`, when the file has them.
Result<const std::byte*> bytes_at(Bytes data, std::uint64_t offset, std::uint64_t width) {
    auto end = sum(offset, width);
    if (!end) return fail("offset overflow");
    if (*end > data.size()) return truncated(offset, width, data.size());
    return data.data() + offset;
}

template <class Word>
Result<Word> little_endian_at(Bytes data, std::uint64_t offset) {
    auto p = bytes_at(data, offset, sizeof(Word));
    if (!p) return std::unexpected(std::move(p.error()));
    Word word;
    std::memcpy(&word, *p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    return word;
}

Result<std::uint32_t> u32_at(Bytes data, std::uint64_t offset) { return little_endian_at<std::uint32_t>(data, offset); }

Result<double> f64_at(Bytes data, std::uint64_t offset) {
    auto bits = little_endian_at<std::uint64_t>(data, offset);
    if (!bits) return std::unexpected(std::move(bits.error()));
    return std::bit_cast<double>(*bits);
}

// A 24-byte ISO 8859-1 name field, ended by a zero byte or by its width, with
// the white space around it removed.
Result<std::string> text_at(Bytes data, std::uint64_t offset) {
    constexpr std::uint64_t width = 24;
    auto field = bytes_at(data, offset, width);
    if (!field) return std::unexpected(std::move(field.error()));
    std::string utf8;
    for (std::byte b : std::span(*field, width)) {
        if (b == std::byte{0}) break;
        text::append_utf8(utf8, static_cast<char32_t>(b));
    }
    return std::string(text::trim(utf8));
}

// Just past the last of `count` records of `record_size` bytes that begin at
// `data_start`.
Result<std::uint64_t> range_end(std::uint64_t length, std::uint64_t data_start, std::uint64_t count,
                                std::uint64_t record_size) {
    if (count == 0) return fail("range has no points");
    auto bytes = product(count, record_size);
    auto end = bytes ? sum(data_start, *bytes) : std::nullopt;
    if (!end) return fail("offset overflow");
    if (*end > length) return truncated(data_start, *bytes, length);
    return *end;
}

Result<void> check_start_and_step(double start, double step) {
    if (!std::isfinite(start) || !std::isfinite(step) || step == 0.0)
        return fail("range start and nonzero step must be finite");
    return {};
}

// --- RAW3 -------------------------------------------------------------------

constexpr std::uint64_t raw3_file_header = 712;
constexpr std::uint64_t raw3_min_range_header = 260;

// The scan type codes under which a range's angles are 2theta.
bool raw3_scans_two_theta(std::uint32_t code) { return code == 0 || code == 1 || code == 2 || code == 20; }

// The RAW3 range whose header begins at `at`: the header of H bytes, an extra
// record of E bytes, then N data records. Each record is the f32 intensity
// and one f64 for every varying parameter, the angle first when it varies.
Result<Range> raw3_range(Bytes data, std::uint64_t at) {
    auto header_size = u32_at(data, at);
    if (!header_size) return std::unexpected(std::move(header_size.error()));
    const std::uint64_t h = *header_size;
    if (h < raw3_min_range_header || h > max_header) return fail("invalid RAW3 range-header size " + decimal(h));
    if (auto header = bytes_at(data, at, h); !header) return std::unexpected(std::move(header.error()));

    auto points = u32_at(data, at + 4);
    if (!points) return std::unexpected(std::move(points.error()));
    auto start = f64_at(data, at + 16);
    if (!start) return std::unexpected(std::move(start.error()));
    auto step = f64_at(data, at + 176);
    if (!step) return std::unexpected(std::move(step.error()));
    if (auto ok = check_start_and_step(*start, *step); !ok) return std::unexpected(std::move(ok.error()));

    auto scan_type = u32_at(data, at + 196);
    if (!scan_type) return std::unexpected(std::move(scan_type.error()));
    auto varying = u32_at(data, at + 248);
    if (!varying) return std::unexpected(std::move(varying.error()));
    auto record_size = u32_at(data, at + 252);
    if (!record_size) return std::unexpected(std::move(record_size.error()));
    auto extra_size = u32_at(data, at + 256);
    if (!extra_size) return std::unexpected(std::move(extra_size.error()));

    // Bit 31 is no parameter; a file that sets it is not one this reader
    // understands, whatever record size it claims.
    const std::uint64_t expected = 4 + 8 * static_cast<std::uint64_t>(std::popcount(*varying));
    if ((*varying & 0x8000'0000u) != 0 || *record_size != expected)
        return fail("RAW3 data-record size " + decimal(*record_size) + " disagrees with varying-parameter bits " +
                    hexadecimal(*varying) + " (expected " + decimal(expected) + ")");
    if (*extra_size > max_header) return fail("invalid RAW3 extra-record length");

    auto after_header = sum(at, h);
    auto data_start = after_header ? sum(*after_header, *extra_size) : std::nullopt;
    if (!data_start) return fail("RAW3 data offset overflow");
    auto data_end = range_end(data.size(), *data_start, *points, *record_size);
    if (!data_end) return std::unexpected(std::move(data_end.error()));

    std::optional<std::string> axis_problem;
    if (!raw3_scans_two_theta(*scan_type))
        axis_problem = "RAW3 scan type " + decimal(*scan_type) + " does not establish a 2theta axis";
    return Range{std::move(axis_problem), *start, *step, *points, *record_size, *data_start, *data_end,
                 (*varying & 1u) != 0};
}

// The declared ranges one after another from offset 712; instruments pad the
// file with zero bytes after the last one, but anything else left over means
// the header does not describe the file.
Result<std::vector<Range>> raw3_ranges(Bytes data) {
    if (data.size() < raw3_file_header) return truncated(0, raw3_file_header, data.size());
    auto count = u32_at(data, 12);
    if (!count) return std::unexpected(std::move(count.error()));
    if (*count == 0 || *count > max_ranges) return fail("invalid RAW3 range count " + decimal(*count));

    // The smallest range is a bare header and one record of 4 bytes.
    const std::uint64_t fit = (data.size() - raw3_file_header) / (raw3_min_range_header + 4) + 1;
    std::vector<Range> ranges;
    ranges.reserve(std::min<std::uint64_t>(*count, fit));
    std::uint64_t at = raw3_file_header;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto range = raw3_range(data, at);
        if (!range) return std::unexpected(std::move(range.error()));
        at = range->data_end;
        ranges.push_back(std::move(*range));
    }
    if (!std::all_of(data.begin() + static_cast<std::ptrdiff_t>(at), data.end(),
                     [](std::byte b) { return b == std::byte{0}; }))
        return fail("unaccounted nonzero bytes after the declared RAW3 ranges");
    return ranges;
}

// --- RAW4 -------------------------------------------------------------------

constexpr std::uint64_t raw4_file_header = 61;
constexpr std::uint64_t raw4_fixed_header = 160;
constexpr std::uint32_t raw4_drive_record = 50;
constexpr std::uint64_t raw4_min_drive_record = 64;

struct Segment {
    std::uint32_t type;
    std::uint64_t length;
};

// A generic segment header at `offset`: a type and the segment's total
// length, which must stay within `end`.
Result<Segment> segment(Bytes data, std::uint64_t offset, std::uint64_t end) {
    if (offset > end || end - offset < 8) return fail("truncated segment header");
    auto type = u32_at(data, offset);
    if (!type) return std::unexpected(std::move(type.error()));
    auto length = u32_at(data, offset + 4);
    if (!length) return std::unexpected(std::move(length.error()));
    if (*length < 8 || *length > end - offset)
        return fail("segment type " + decimal(*type) + " at offset " + decimal(offset) + " declares invalid length " +
                    decimal(*length));
    return Segment{*type, *length};
}

// Names are compared without case, white space, hyphens and underscores, so
// that "2-Theta", "2 Theta" and "two_theta" meet.
std::string normalized(std::string_view name) { return text::axis_key(name); }

// The name of the one drive that the drive header marks as scanned and that
// starts where the range starts. None when no drive qualifies, and none when
// several do: then the drives do not say which axis the range scans.
Result<std::optional<std::string>> scanned_drive(Bytes data, std::uint64_t first, std::uint64_t end, double start) {
    std::optional<std::string> found;
    int candidates = 0;
    for (std::uint64_t at = first; at < end;) {
        auto record = segment(data, at, end);
        if (!record) return std::unexpected(std::move(record.error()));
        if (record->type == raw4_drive_record) {
            if (record->length < raw4_min_drive_record) return fail("RAW4 drive record is shorter than 64 bytes");
            auto scanned = u32_at(data, at + 8);
            if (!scanned) return std::unexpected(std::move(scanned.error()));
            auto drive_start = f64_at(data, at + 56);
            if (!drive_start) return std::unexpected(std::move(drive_start.error()));
            const double tolerance = std::abs(start) * 1e-5 + 1e-6;
            if (*scanned != 0 && std::abs(*drive_start - start) <= tolerance) {
                auto name = text_at(data, at + 12);
                if (!name) return std::unexpected(std::move(name.error()));
                if (++candidates == 1) found = std::move(*name);
            }
        }
        at += record->length;
    }
    if (candidates != 1) return std::nullopt;
    return found;
}

// A single scanned drive decides the axis; otherwise the scan type name does.
std::optional<std::string> raw4_axis_problem(const std::optional<std::string>& drive, std::string_view scan_type) {
    if (drive) {
        const std::string key = normalized(*drive);
        if (key == "twotheta" || key == "2theta") return std::nullopt;
        return "scanned drive " + text::quoted(*drive) + " is not a recognized 2theta axis";
    }
    const std::string key = normalized(scan_type);
    if (key == "detectorscan" || key == "lockedcoupled" || key == "unlockedcoupled" || key == "unlockedcoupledhrxrd")
        return std::nullopt;
    return "scan type " + text::quoted(scan_type) + " does not establish a 2theta axis; export a coupled 2theta scan";
}

// The RAW4 range header at `at`: 160 fixed bytes, a drive header of D bytes,
// then N records of R bytes, each beginning with the f32 intensity.
Result<Range> raw4_range(Bytes data, std::uint64_t at) {
    if (auto fixed = bytes_at(data, at, raw4_fixed_header); !fixed) return std::unexpected(std::move(fixed.error()));
    auto scan_type = text_at(data, at + 32);
    if (!scan_type) return std::unexpected(std::move(scan_type.error()));
    auto start = f64_at(data, at + 72);
    if (!start) return std::unexpected(std::move(start.error()));
    auto step = f64_at(data, at + 80);
    if (!step) return std::unexpected(std::move(step.error()));
    if (auto ok = check_start_and_step(*start, *step); !ok) return std::unexpected(std::move(ok.error()));

    auto points = u32_at(data, at + 88);
    if (!points) return std::unexpected(std::move(points.error()));
    auto record_size = u32_at(data, at + 136);
    if (!record_size) return std::unexpected(std::move(record_size.error()));
    auto drive_size = u32_at(data, at + 140);
    if (!drive_size) return std::unexpected(std::move(drive_size.error()));
    if (*record_size < 4 || *record_size % 4 != 0)
        return fail("invalid RAW4 data-record size " + decimal(*record_size));
    if (*drive_size > max_header) return fail("RAW4 drive header exceeds 1 MiB");
    const std::uint64_t drives = at + raw4_fixed_header;
    if (auto header = bytes_at(data, drives, *drive_size); !header) return std::unexpected(std::move(header.error()));

    const std::uint64_t data_start = drives + *drive_size;
    auto data_end = range_end(data.size(), data_start, *points, *record_size);
    if (!data_end) return std::unexpected(std::move(data_end.error()));
    auto drive = scanned_drive(data, drives, data_start, *start);
    if (!drive) return std::unexpected(std::move(drive.error()));

    return Range{raw4_axis_problem(*drive, *scan_type), *start, *step, *points, *record_size, data_start, *data_end,
                 false};
}

// After the 61-byte file header the file is a run of segments to its end;
// types 0 and 160 are range headers, every other type is skipped.
Result<std::vector<Range>> raw4_ranges(Bytes data) {
    if (data.size() < raw4_file_header) return truncated(0, raw4_file_header, data.size());
    std::vector<Range> ranges;
    std::uint64_t at = raw4_file_header;
    while (at < data.size()) {
        auto type = u32_at(data, at);
        if (!type) return std::unexpected(std::move(type.error()));
        if (*type != 0 && *type != 160) {
            auto skipped = segment(data, at, data.size());
            if (!skipped) return std::unexpected(std::move(skipped.error()));
            at += skipped->length;
            continue;
        }
        if (ranges.size() == max_ranges) return fail("too many RAW4 ranges");
        auto range = raw4_range(data, at);
        if (!range) return std::unexpected(std::move(range.error()));
        at = range->data_end;
        ranges.push_back(std::move(*range));
    }
    if (ranges.empty()) return fail("RAW4 file has no measurement ranges");
    return ranges;
}

// --- both generations -------------------------------------------------------

Result<std::vector<Range>> ranges_of(Bytes data) {
    const std::string_view head = as_chars(data).substr(0, 7);
    if (head == "RAW1.01") return raw3_ranges(data);
    if (head == "RAW4.00") return raw4_ranges(data);
    if (head.starts_with("RAW2") || head.starts_with("RAW "))
        return fail("versions 1 and 2 are unsupported; export RAW3, RAW4, UXD, or XY");
    return fail("unrecognized binary signature");
}

// The records of one range, in file order. The angle of record i is start +
// step * i, the product and the sum each rounded on their own, unless the
// record carries its angle.
Result<Points> decode(Bytes data, const Range& range) {
    // The walk has checked that data start + N x R lies inside the file and
    // that every record is wide enough for what is read from it, so the
    // records are read in place.
    if (range.data_end > data.size()) return truncated(range.data_start, range.data_end - range.data_start, data.size());
    auto load = [&]<class Word>(std::uint64_t offset) {
        Word bits;
        std::memcpy(&bits, data.data() + offset, sizeof bits);
        if constexpr (std::endian::native == std::endian::big) bits = std::byteswap(bits);
        return bits;
    };
    Points points;
    reserve_values(points.x, range.points);
    reserve_values(points.y, range.points);
    // The range is copied into locals: stores of doubles into the arrays
    // could otherwise be the range's own start and step, reloaded each time.
    const double start = range.start, step = range.step;
    const std::uint64_t first = range.data_start, end = range.data_end, size = range.record_size;
    // Angles are checked in order as they are stored, so that the pattern
    // need not be read again to be validated. Record numbers stay below
    // 2^53, so counting them in a double gives the same values as converting.
    // Records are decoded a block at a time into local arrays, which are
    // then appended: a loop with no call in it keeps its values in registers.
    auto records = [&]<bool angle_in_record>() -> Result<void> {
        constexpr std::size_t block = 256;
        double xs[block], ys[block];
        bool increasing = true;
        double previous = -std::numeric_limits<double>::infinity(), at = 0;
        for (std::uint64_t record = first; record < end;) {
            std::size_t n = 0;
            bool finite = true;
            for (; n < block && record < end; ++n, record += size) {
                const double y = std::bit_cast<float>(load.template operator()<std::uint32_t>(record));
                double angle;
                if constexpr (angle_in_record) {
                    angle = std::bit_cast<double>(load.template operator()<std::uint64_t>(record + 4));
                } else {
                    const double offset = step * (at + static_cast<double>(n));
                    angle = start + offset;
                }
                finite &= std::isfinite(angle) & std::isfinite(y);
                increasing &= previous < angle;
                previous = angle;
                xs[n] = angle;
                ys[n] = y;
            }
            if (!finite) [[unlikely]] {
                std::size_t bad = 0;
                while (std::isfinite(xs[bad]) && std::isfinite(ys[bad])) ++bad;
                return fail("nonfinite angle or intensity in point " + decimal(static_cast<std::uint64_t>(at) + bad));
            }
            points.x.insert(points.x.end(), xs, xs + n);
            points.y.insert(points.y.end(), ys, ys + n);
            at += static_cast<double>(n);
        }
        points.checked = increasing;
        return {};
    };
    auto read = range.angle_in_record ? records.template operator()<true>() : records.template operator()<false>();
    if (!read) return std::unexpected(std::move(read.error()));
    return points;
}

}  // namespace

Result<Points> parse_bruker_raw(std::span<const std::byte> data, std::uint64_t index) {
    auto ranges = ranges_of(data);
    if (!ranges) return std::unexpected(std::move(ranges.error()));
    if (index >= ranges->size())
        return fail("scan " + decimal(index) + " is out of range; file has " + decimal(ranges->size()) + " scans");
    const Range& chosen = (*ranges)[index];
    if (chosen.axis_problem) return fail(*chosen.axis_problem);
    return decode(data, chosen);
}

Result<std::uint64_t> count_ranges(std::span<const std::byte> data) {
    auto ranges = ranges_of(data);
    if (!ranges) return std::unexpected(std::move(ranges.error()));
    return ranges->size();
}

}  // namespace difrax::bruker
