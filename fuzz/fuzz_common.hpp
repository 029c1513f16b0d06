// Shared by the fuzz targets and the seed generator: the file-name hints the
// load target chooses from, and the checks every successful result must pass.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

namespace difrax::fuzz {

// Every extension that detection knows, in two spellings for some (it
// lower-cases), and none. The first input byte of the load target picks one.
inline constexpr std::string_view hints[] = {
    "",          "scan.xy",   "scan.ras",  "scan.RAS",   "scan.uxd", "scan.gsa",  "scan.gda",   "scan.xra",
    "scan.raw",  "scan.gsas", "scan.fxye", "scan.cif",   "scan.chi", "scan.dif",  "scan.rasx",  "scan.BRML",
    "scan.brml", "scan.xrdml", "dir.d/noext", "scan.", ".hidden", "a/b/scan.Chi/", "scan.txt", "scan.DIF",
};
inline constexpr std::size_t hint_count = std::size(hints);

// The index chosen by one input byte: mostly small, sometimes the extremes.
inline std::uint64_t index_from(std::uint8_t b) {
    if (b < 0xF0) return b % 4u;
    return UINT64_MAX - (b & 0x0Fu);
}

// A broken invariant is a finding: abort so that libFuzzer records it.
inline void require(bool ok) {
    if (!ok) std::abort();
}

// Finite values, x strictly increasing.
inline void check_valid(std::span<const double> x, std::span<const double> y) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        require(std::isfinite(x[i]) && std::isfinite(y[i]));
        if (i > 0) require(x[i - 1] < x[i]);
    }
}

// What a reader hands back: equally long x and y, and valid where the reader
// says it checked them as it stored them (validation is then skipped).
template <class Points>
void check_points(const Points& p) {
    require(p.x.size() == p.y.size());
    if (p.checked) check_valid(p.x, p.y);
}

// What the entry point returns: non-empty, finite, strictly increasing x.
template <class Pattern>
void check_pattern(const Pattern& p) {
    require(!p.x().empty() && p.x().size() == p.y().size());
    check_valid(p.x(), p.y());
}

inline std::span<const std::byte> bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const std::byte*>(data), size};
}

// A reader of multi-pattern files: byte 0 picks the index, the rest is the file.
template <class Reader>
int read_indexed(const std::uint8_t* data, std::size_t size, Reader read) {
    if (size < 1) return 0;
    auto points = read(bytes(data + 1, size - 1), index_from(data[0]));
    if (points) check_points(*points);
    return 0;
}

}  // namespace difrax::fuzz
