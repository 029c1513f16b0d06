#include "text/unicode.hpp"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <vector>

namespace difrax::text {

char32_t next_char(std::string_view s, std::size_t& i) noexcept {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    auto cont = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]) & 0x3Fu; };
    char32_t c;
    if (b < 0xE0) {
        c = ((b & 0x1Fu) << 6) | cont(1);
        i += 2;
    } else if (b < 0xF0) {
        c = ((b & 0x0Fu) << 12) | (cont(1) << 6) | cont(2);
        i += 3;
    } else {
        c = ((b & 0x07u) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3);
        i += 4;
    }
    return c;
}

std::size_t space_length(std::string_view s, std::size_t i) noexcept {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) return (b == ' ' || (b >= 0x09 && b <= 0x0D)) ? 1 : 0;
    if (b != 0xC2 && b != 0xE1 && b != 0xE2 && b != 0xE3) return 0;
    std::size_t j = i;
    char32_t c = next_char(s, j);
    return is_space(c) ? j - i : 0;
}

std::size_t space_length_before(std::string_view s, std::size_t end) noexcept {
    if (end == 0) return 0;
    auto b = static_cast<unsigned char>(s[end - 1]);
    if (b < 0x80) return (b == ' ' || (b >= 0x09 && b <= 0x0D)) ? 1 : 0;
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4) --start;
    std::size_t j = start;
    char32_t c = next_char(s, j);
    return (j == end && is_space(c)) ? end - start : 0;
}

std::string_view trim_start(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t n = space_length(s, i);
        if (n == 0) break;
        i += n;
    }
    return s.substr(i);
}

std::string_view trim_end(std::string_view s) noexcept {
    std::size_t end = s.size();
    while (end > 0) {
        std::size_t n = space_length_before(s, end);
        if (n == 0) break;
        end -= n;
    }
    return s.substr(0, end);
}

std::string_view trim(std::string_view s) noexcept { return trim_end(trim_start(s)); }

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

namespace {

std::u16string to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t c = next_char(s, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string from_utf16(const char16_t* p, std::size_t n) {
    std::string out;
    out.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        char32_t c = p[k];
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < n) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[k + 1] - 0xDC00);
            ++k;
        }
        append_utf8(out, c);
    }
    return out;
}

// ASCII-only text lowers without ICU.
bool ascii_lower(std::string_view s, std::string& out) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    out.assign(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return true;
}

std::string icu_lower(std::string_view s) {
    std::u16string src = to_utf16(s);
    std::vector<char16_t> dst(src.size() * 3 + 4);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = u_strToLower(reinterpret_cast<UChar*>(dst.data()), static_cast<int32_t>(dst.size()),
                             reinterpret_cast<const UChar*>(src.data()), static_cast<int32_t>(src.size()), "",
                             &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        dst.resize(static_cast<std::size_t>(n) + 1);
        status = U_ZERO_ERROR;
        n = u_strToLower(reinterpret_cast<UChar*>(dst.data()), static_cast<int32_t>(dst.size()),
                         reinterpret_cast<const UChar*>(src.data()), static_cast<int32_t>(src.size()), "", &status);
    }
    if (U_FAILURE(status)) return std::string(s);
    return from_utf16(dst.data(), static_cast<std::size_t>(n));
}

}  // namespace

std::string lower(std::string_view s) {
    std::string out;
    if (ascii_lower(s, out)) return out;
    return icu_lower(s);
}

std::string lower_each(std::string_view s) {
    std::string out;
    if (ascii_lower(s, out)) return out;
    out.clear();
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t start = i;
        char32_t c = next_char(s, i);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
        } else {
            out += icu_lower(s.substr(start, i - start));
        }
    }
    return out;
}

bool is_alphanumeric(char32_t c) noexcept {
    if (c < 0x80) return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
    if (u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC)) return true;
    auto t = u_charType(static_cast<UChar32>(c));
    return t == U_DECIMAL_DIGIT_NUMBER || t == U_LETTER_NUMBER || t == U_OTHER_NUMBER;
}

bool is_printable(char32_t c) noexcept {
    if (c < 0x80) return c >= 0x20 && c < 0x7F;
    switch (u_charType(static_cast<UChar32>(c))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
        return false;
    default:
        return true;
    }
}

bool is_grapheme_extend(char32_t c) noexcept {
    if (c < 0x300) return false;
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_GRAPHEME_EXTEND);
}

}  // namespace difrax::text
