// Writers of small Bruker RAW files (RAW3 "RAW1.01" and RAW4 "RAW4.00") for
// tests, benchmarks and fuzz seeds. Bytes the reader never looks at are
// filled with a nonzero pattern, so that a field read at the wrong offset
// shows up as a wrong value rather than a lucky zero.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace difrax::testing::raw {

constexpr char filler = '\xA5';

inline void put_u32(std::string& out, std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) out[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}
inline void put_u64(std::string& out, std::size_t at, std::uint64_t v) {
    for (std::size_t k = 0; k < 8; ++k) out[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}
inline void put_f32(std::string& out, std::size_t at, float v) { put_u32(out, at, std::bit_cast<std::uint32_t>(v)); }
inline void put_f64(std::string& out, std::size_t at, double v) { put_u64(out, at, std::bit_cast<std::uint64_t>(v)); }

// A 24-byte name field: the bytes as given (ISO 8859-1), zero-terminated when
// shorter than the field.
inline void put_name(std::string& out, std::size_t at, std::string_view latin1) {
    std::size_t n = std::min<std::size_t>(latin1.size(), 24);
    out.replace(at, n, latin1.substr(0, n));
    if (n < 24) out[at + n] = '\0';
}

// --- RAW3 -------------------------------------------------------------------

// Offsets of the RAW3 file header and range header fields, for tests that
// corrupt one of them in a built file.
namespace raw3_field {
constexpr std::size_t range_count = 12;
constexpr std::size_t first_range = 712;
constexpr std::size_t header_size = 0, points = 4, start = 16, step = 176, scan_type = 196, varying = 248,
                      record_size = 252, extra_size = 256;
}  // namespace raw3_field

struct Raw3Range {
    double start = 10.0;
    double step = 0.02;
    std::uint32_t scan_type = 0;
    // Varying-parameter bits: each set bit adds one f64 to every record, bit 0
    // being the record's own angle.
    std::uint32_t varying = 0;
    std::vector<float> intensities = {1.0f, 2.0f, 3.0f};
    // Written into the records when bit 0 of `varying` is set.
    std::vector<double> angles;
    std::uint32_t header_size = 304;  // at least 260
    std::uint32_t extra_size = 0;
    // The declared N and R, when they should differ from what is written.
    std::optional<std::uint32_t> points;
    std::optional<std::uint32_t> record_size;
};

inline std::uint32_t raw3_record_size(std::uint32_t varying) {
    return 4 + 8 * static_cast<std::uint32_t>(std::popcount(varying));
}

inline void append_raw3_range(std::string& out, const Raw3Range& r) {
    namespace f = raw3_field;
    const std::size_t at = out.size();
    const std::uint32_t h = std::max<std::uint32_t>(r.header_size, 260);
    const std::uint32_t size = r.record_size.value_or(raw3_record_size(r.varying));
    out.append(h + r.extra_size, filler);
    put_u32(out, at + f::header_size, r.header_size);
    put_u32(out, at + f::points, r.points.value_or(static_cast<std::uint32_t>(r.intensities.size())));
    put_f64(out, at + f::start, r.start);
    put_f64(out, at + f::step, r.step);
    put_u32(out, at + f::scan_type, r.scan_type);
    put_u32(out, at + f::varying, r.varying);
    put_u32(out, at + f::record_size, size);
    put_u32(out, at + f::extra_size, r.extra_size);
    for (std::size_t i = 0; i < r.intensities.size(); ++i) {
        std::string record(std::max<std::uint32_t>(size, 4), '\0');
        put_f32(record, 0, r.intensities[i]);
        std::size_t pos = 4;
        for (int bit = 0; bit < 32 && pos + 8 <= record.size(); ++bit) {
            if ((r.varying >> bit & 1u) == 0) continue;
            double value = bit == 0 && i < r.angles.size() ? r.angles[i] : 1000.0 + bit;
            put_f64(record, pos, value);
            pos += 8;
        }
        out += record.substr(0, size);
    }
}

// A RAW3 file: the 712-byte file header, then the ranges; `declared` replaces
// the range count written into the header.
inline std::string raw3(const std::vector<Raw3Range>& ranges, std::optional<std::uint32_t> declared = std::nullopt) {
    std::string out(raw3_field::first_range, filler);
    out.replace(0, 7, "RAW1.01");
    put_u32(out, raw3_field::range_count, declared.value_or(static_cast<std::uint32_t>(ranges.size())));
    for (const Raw3Range& r : ranges) append_raw3_range(out, r);
    return out;
}

// --- RAW4 -------------------------------------------------------------------

namespace raw4_field {
constexpr std::size_t file_header = 61;
constexpr std::size_t scan_type = 32, start = 72, step = 80, points = 88, record_size = 136, drive_size = 140,
                      drives = 160;
constexpr std::size_t drive_scanned = 8, drive_name = 12, drive_start = 56;
}  // namespace raw4_field

// A generic segment of `length` bytes (the declared length; at least its
// 8-byte header is written even when the declared length is smaller).
struct Segment {
    std::uint32_t type = 30;
    std::uint32_t length = 16;
};

// A drive record (segment type 50).
struct Drive {
    std::string name = "2Theta";  // ISO 8859-1 bytes
    std::uint32_t scanned = 1;
    double start = 10.0;
    std::uint32_t length = 64;
};

using DriveItem = std::variant<Drive, Segment>;

struct Raw4Range {
    std::uint32_t type = 0;  // 0 or 160
    std::string scan_type = "Locked Coupled";
    double start = 10.0;
    double step = 0.02;
    std::vector<float> intensities = {1.0f, 2.0f, 3.0f};
    std::uint32_t record_size = 4;
    std::vector<DriveItem> drives;
    std::optional<std::uint32_t> points;
};

using Raw4Item = std::variant<Raw4Range, Segment>;

inline void append_segment(std::string& out, const Segment& s) {
    const std::size_t at = out.size();
    out.append(std::max<std::uint32_t>(s.length, 8), filler);
    put_u32(out, at, s.type);
    put_u32(out, at + 4, s.length);
}

inline void append_drive(std::string& out, const Drive& d) {
    namespace f = raw4_field;
    const std::size_t at = out.size();
    out.append(std::max<std::uint32_t>(d.length, 64), filler);
    put_u32(out, at, 50);
    put_u32(out, at + 4, d.length);
    put_u32(out, at + f::drive_scanned, d.scanned);
    put_name(out, at + f::drive_name, d.name);
    put_f64(out, at + f::drive_start, d.start);
}

inline void append_raw4_range(std::string& out, const Raw4Range& r) {
    namespace f = raw4_field;
    std::string drives;
    for (const DriveItem& item : r.drives) {
        if (auto* d = std::get_if<Drive>(&item)) append_drive(drives, *d);
        else append_segment(drives, std::get<Segment>(item));
    }
    const std::size_t at = out.size();
    out.append(f::drives, filler);
    put_u32(out, at, r.type);
    put_name(out, at + f::scan_type, r.scan_type);
    put_f64(out, at + f::start, r.start);
    put_f64(out, at + f::step, r.step);
    put_u32(out, at + f::points, r.points.value_or(static_cast<std::uint32_t>(r.intensities.size())));
    put_u32(out, at + f::record_size, r.record_size);
    put_u32(out, at + f::drive_size, static_cast<std::uint32_t>(drives.size()));
    out += drives;
    for (float y : r.intensities) {
        std::string record(std::max<std::uint32_t>(r.record_size, 4), filler);
        put_f32(record, 0, y);
        out += record.substr(0, r.record_size);
    }
}

// A RAW4 file: the 61-byte file header, then the ranges and generic segments
// in the order given.
inline std::string raw4(const std::vector<Raw4Item>& items) {
    std::string out(raw4_field::file_header, filler);
    out.replace(0, 7, "RAW4.00");
    for (const Raw4Item& item : items) {
        if (auto* r = std::get_if<Raw4Range>(&item)) append_raw4_range(out, *r);
        else append_segment(out, std::get<Segment>(item));
    }
    return out;
}

}  // namespace difrax::testing::raw
