// Writers of small Bruker RAW files (RAW3 "RAW1.01" and RAW4 "RAW4.00") for
// tests, benchmarks and fuzz seeds. Bytes the reader never looks at are
// filled with a nonzero pattern, so that a field read at the wrong offset
// shows up as a wrong value rather than a lucky zero.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace difrax::testing::raw {

constexpr char filler = '\xA5';

// `v` written little-endian over the bytes at `at`: a u32, an f32 or an f64.
template <class T>
void put(std::string& out, std::size_t at, T v) {
    static_assert(std::is_same_v<T, std::uint32_t> || std::is_same_v<T, float> || std::is_same_v<T, double>);
    auto bits = std::bit_cast<std::conditional_t<sizeof v == 8, std::uint64_t, std::uint32_t>>(v);
    for (std::size_t k = 0; k < sizeof v; ++k, bits >>= 8) out[at + k] = static_cast<char>(bits & 0xFF);
}

// A copy of `file` with one field overwritten, for tests that corrupt a built file.
template <class T>
std::string with(std::string file, std::size_t at, T v) {
    put(file, at, v);
    return file;
}

// A 24-byte name field: the bytes as given (ISO 8859-1), zero-terminated when
// shorter than the field.
inline void put_name(std::string& out, std::size_t at, std::string_view latin1) {
    const std::size_t n = std::min<std::size_t>(latin1.size(), 24);
    out.replace(at, n, latin1.substr(0, n));
    if (n < 24) out[at + n] = '\0';
}

// --- RAW3 -------------------------------------------------------------------

// Offsets of the RAW3 file header and range header fields.
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
};

inline void append(std::string& out, const Raw3Range& r) {
    namespace f = raw3_field;
    const std::size_t at = out.size();
    const auto record_size = static_cast<std::uint32_t>(4 + 8 * std::popcount(r.varying));
    out.append(r.header_size + r.extra_size, filler);
    put(out, at + f::header_size, r.header_size);
    put(out, at + f::points, static_cast<std::uint32_t>(r.intensities.size()));
    put(out, at + f::start, r.start);
    put(out, at + f::step, r.step);
    put(out, at + f::scan_type, r.scan_type);
    put(out, at + f::varying, r.varying);
    put(out, at + f::record_size, record_size);
    put(out, at + f::extra_size, r.extra_size);
    for (std::size_t i = 0; i < r.intensities.size(); ++i) {
        std::string record(record_size, '\0');
        put(record, 0, r.intensities[i]);
        std::size_t pos = 4;
        for (int bit = 0; bit < 32; ++bit) {
            if ((r.varying >> bit & 1u) == 0) continue;
            put(record, pos, bit == 0 && i < r.angles.size() ? r.angles[i] : 1000.0 + bit);
            pos += 8;
        }
        out += record;
    }
}

// A RAW3 file: the 712-byte file header, then the ranges.
inline std::string raw3(const std::vector<Raw3Range>& ranges) {
    std::string out(raw3_field::first_range, filler);
    out.replace(0, 7, "RAW1.01");
    put(out, raw3_field::range_count, static_cast<std::uint32_t>(ranges.size()));
    for (const Raw3Range& r : ranges) append(out, r);
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
};

using Raw4Item = std::variant<Raw4Range, Segment>;

inline void append(std::string& out, const Segment& s) {
    const std::size_t at = out.size();
    out.append(std::max<std::uint32_t>(s.length, 8), filler);
    put(out, at, s.type);
    put(out, at + 4, s.length);
}

inline void append(std::string& out, const Drive& d) {
    namespace f = raw4_field;
    const std::size_t at = out.size();
    append(out, Segment{.type = 50, .length = d.length});
    out.resize(std::max(out.size(), at + 64), filler);
    put(out, at + f::drive_scanned, d.scanned);
    put_name(out, at + f::drive_name, d.name);
    put(out, at + f::drive_start, d.start);
}

inline void append(std::string& out, const Raw4Range& r) {
    namespace f = raw4_field;
    std::string drives;
    for (const DriveItem& item : r.drives) std::visit([&](const auto& x) { append(drives, x); }, item);
    const std::size_t at = out.size();
    out.append(f::drives, filler);
    put(out, at, r.type);
    put_name(out, at + f::scan_type, r.scan_type);
    put(out, at + f::start, r.start);
    put(out, at + f::step, r.step);
    put(out, at + f::points, static_cast<std::uint32_t>(r.intensities.size()));
    put(out, at + f::record_size, r.record_size);
    put(out, at + f::drive_size, static_cast<std::uint32_t>(drives.size()));
    out += drives;
    for (float y : r.intensities) {
        std::string record(std::max<std::uint32_t>(r.record_size, 4), filler);
        put(record, 0, y);
        out += record.substr(0, r.record_size);
    }
}

// A RAW4 file: the 61-byte file header, then the ranges and generic segments
// in the order given.
inline std::string raw4(const std::vector<Raw4Item>& items) {
    std::string out(raw4_field::file_header, filler);
    out.replace(0, 7, "RAW4.00");
    for (const Raw4Item& item : items) std::visit([&](const auto& x) { append(out, x); }, item);
    return out;
}

}  // namespace difrax::testing::raw
