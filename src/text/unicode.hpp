// Character rules shared by every reader: Unicode white space, UTF-8 stepping,
// full lower-case mapping and the character classes used in messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace difrax::text {

// The Unicode White_Space property: TAB, LF, VT, FF, CR, space, U+0085,
// U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
constexpr bool is_space(char32_t c) noexcept {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the character at s[i] of valid UTF-8 text and advances i past it.
char32_t next_char(std::string_view s, std::size_t& i) noexcept;

// Length in bytes of the white-space character at s[i] (text is valid UTF-8),
// or 0 when the character there is not white space.
std::size_t space_length(std::string_view s, std::size_t i) noexcept;

// Length of the white-space character that ends at s[end] (exclusive), or 0.
std::size_t space_length_before(std::string_view s, std::size_t end) noexcept;

std::string_view trim(std::string_view s) noexcept;
std::string_view trim_start(std::string_view s) noexcept;
std::string_view trim_end(std::string_view s) noexcept;

// Full Unicode lower-casing of a whole text, context included (a final sigma
// becomes "ς").
std::string lower(std::string_view s);
// Full Unicode lower-casing of each character on its own, without context.
std::string lower_each(std::string_view s);
// Unicode letters and numbers (Alphabetic, or general category N*).
bool is_alphanumeric(char32_t c) noexcept;
// Characters that messages show as they are: everything but control, format,
// surrogate, private-use, unassigned and separator characters (the plain
// space excepted).
bool is_printable(char32_t c) noexcept;
// Combining marks and the like (Grapheme_Extend).
bool is_grapheme_extend(char32_t c) noexcept;

void append_utf8(std::string& out, char32_t c);

}  // namespace difrax::text
