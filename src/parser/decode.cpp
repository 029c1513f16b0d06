#include "parser/decode.hpp"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "error/fail.hpp"
#include "text/unicode.hpp"

namespace difrax {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence starting at s[i], or, when it is
// invalid, minus the length of its maximal subpart (at least 1), as Unicode's
// "substitution of maximal subparts" counts it.
long sequence_length(const unsigned char* s, std::size_t n, std::size_t i) {
    unsigned char b = s[i];
    if (b < 0x80) return 1;
    int need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return -1;
    }
    std::size_t k = 1;
    for (int j = 0; j < need; ++j, ++k) {
        if (i + k >= n) return -static_cast<long>(k);
        unsigned char c = s[i + k];
        if (j == 0 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) return -static_cast<long>(k);
    }
    return static_cast<long>(k);
}

// Index of the first byte that does not start a valid UTF-8 sequence, or n.
std::size_t valid_prefix(const unsigned char* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        // ASCII runs dominate numeric text: skip 64 bytes at a time, then 8.
#if defined(__SSE2__)
        while (i + 64 <= n) {
            const auto* p = reinterpret_cast<const __m128i*>(s + i);
            const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                                             _mm_or_si128(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3)));
            if (_mm_movemask_epi8(any) != 0) break;
            i += 64;
        }
#endif
        while (i + 32 <= n) {
            std::uint64_t w[4];
            __builtin_memcpy(w, s + i, 32);
            if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ull) break;
            i += 32;
        }
        while (i + 8 <= n) {
            std::uint64_t w;
            __builtin_memcpy(&w, s + i, 8);
            if (w & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= n) break;
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        long len = sequence_length(s, n, i);
        if (len < 0) return i;
        i += static_cast<std::size_t>(len);
    }
    return n;
}

Text lenient_utf8(std::string_view bytes) {
    auto s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::size_t bad = valid_prefix(s, n);
    if (bad == n) return Text::borrowed(bytes);
    std::string out;
    out.reserve(n + 16);
    out.append(bytes.substr(0, bad));
    std::size_t i = bad;
    while (i < n) {
        std::size_t good = i + valid_prefix(s + i, n - i);
        out.append(bytes.substr(i, good - i));
        i = good;
        if (i >= n) break;
        long len = sequence_length(s, n, i);
        out.append(replacement);
        i += static_cast<std::size_t>(-len);
    }
    return Text::owned(std::move(out));
}

Result<Text> utf16(std::string_view bytes, bool little_endian) {
    if (bytes.size() % 2 != 0) return parse_error("truncated UTF-16 text");
    auto s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t units = (bytes.size() - 2) / 2;
    auto unit = [&](std::size_t k) -> char32_t {
        const unsigned char* p = s + 2 + 2 * k;
        return little_endian ? char32_t(p[0] | (p[1] << 8)) : char32_t((p[0] << 8) | p[1]);
    };
    std::string out;
    out.reserve(units + units / 2);
    for (std::size_t k = 0; k < units; ++k) {
        char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (k + 1 >= units) return parse_error("invalid UTF-16 text");
            char32_t v = unit(k + 1);
            if (v < 0xDC00 || v > 0xDFFF) return parse_error("invalid UTF-16 text");
            text::append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
            ++k;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return parse_error("invalid UTF-16 text");
        } else {
            text::append_utf8(out, u);
        }
    }
    return Text::owned(std::move(out));
}

}  // namespace

Result<Text> decode(std::span<const std::byte> bytes) {
    std::string_view s = as_chars(bytes);
    if (s.size() >= 2 && s[0] == '\xFF' && s[1] == '\xFE') return utf16(s, true);
    if (s.size() >= 2 && s[0] == '\xFE' && s[1] == '\xFF') return utf16(s, false);
    if (s.size() >= 3 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    return lenient_utf8(s);
}

}  // namespace difrax
