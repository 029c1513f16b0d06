// Text decoding: UTF-16 with a byte-order mark, lenient UTF-8 otherwise.
#include "parser/decode.hpp"
#include "support.hpp"

namespace difrax {
namespace {

using namespace std::string_literals;
using testing::bytes_of;

TEST(Decode, GivesTheText) {
    const std::string invalid = "error: invalid UTF-16 text";
    testing::check(
        {{"", ""}, {"\xEF\xBB\xBF", ""}, {"\xFF\xFE", ""}, {"\xFF\xFE\x31\x00\x20\x00\x32\x00"s, "1 2"},
         {"\xFE\xFF\x00\x31"s, "1"}, {"\xFF\xFE\xFF\xFE"s, "\uFEFF"}, {"\xEF\xBB\xBF\xEF\xBB\xBFx", "\uFEFFx"},
         {"\xFF\xFE\x3D\xD8\x00\xDE\xB8\x03"s, "\U0001F600\u03B8"},  // a surrogate pair, then U+03B8
         {"\xFF\xFE\x31"s, "error: truncated UTF-16 text"}, {"\xFF\xFE\x31\x00\x00\xD8"s, invalid},
         {"\xFF\xFE\x00\xDC\x31\x00"s, invalid}, {"\xFF\xFE\x00\xD8\x31\x00"s, invalid},
         // Lenient UTF-8: each maximal invalid subpart becomes one U+FFFD.
         {"1\xE9" "2", "1\uFFFD2"}, {"a\xF0\x9F\x98", "a\uFFFD"}, {"\xC0\xAF", "\uFFFD\uFFFD"},
         {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"}, {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
         {"\xF0\x80", "\uFFFD\uFFFD"}, {"\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", "\uFFFD\uFFFD\uFFFD\uFFFDA"},
         {"a\0b"s, "a\0b"s}},
        [](const std::string& raw) {
            auto r = decode(bytes_of(raw));
            return r ? std::string(r->view()) : "error: " + r.error().message();
        });
    // Valid UTF-8 is handed on where it lies, not copied.
    const std::string raw = "10 100\n\xCE\xB8 20\n";
    auto r = decode(bytes_of(raw));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->is_owned());
    EXPECT_EQ(r->view().data(), raw.data());
}

}  // namespace
}  // namespace difrax
