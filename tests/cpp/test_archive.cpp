// Members of ZIP containers: lookup by exact name, stored and deflated content,
// the error kinds of damaged archives, and the 256 MiB cap.
#include "support.hpp"
#include "xml/archive.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;

// Bytes that deflate poorly, so that compressed members stay large.
std::string noise(std::size_t n) {
    std::string out(n, '\0');
    for (std::uint32_t s = 12345; char& c : out) c = static_cast<char>((s = s * 1103515245u + 12345u) >> 23);
    return out;
}

// The member's content, or the display text of the error.
std::string text(const Result<std::vector<std::byte>>& r) {
    return r ? std::string(reinterpret_cast<const char*>(r->data()), r->size()) : r.error().display();
}
std::string member(const std::string& archive, std::string_view name, std::size_t cap = member_cap) {
    auto opened = Archive::open(bytes_of(archive));
    return opened ? text(opened->member(name, cap)) : opened.error().display();
}

TEST(Archive, NamesAndLookupAreExactStoredPaths) {
    zip::Builder b;
    b.stored("Root.xml", "<r/>").stored("Data0/", "").deflated("Experiment0/RawData0.xml", "<x/>");
    const std::string archive = b.stored("Ab\xe9.txt", "latin-1 name").bytes();
    EXPECT_EQ(Archive::open(bytes_of(archive))->names(),
              (std::vector<std::string>{"Root.xml", "Data0/", "Experiment0/RawData0.xml", "Ab\xe9.txt"}));
    EXPECT_EQ(member(archive, "Ab\xe9.txt"), "latin-1 name");
    EXPECT_EQ(member(archive, "Experiment0/RawData0.xml"), "<x/>");
    using namespace std::string_literals;
    for (std::string asked :
         {"root.xml"s, "RawData0.xml"s, "/Experiment0/RawData0.xml"s, "Root.xml\0junk"s, "Root.xml "s})
        EXPECT_EQ(member(archive, asked), "File not found in archive: " + asked) << asked;
}

// A member spoiled by one defect gives its kind of error, and the archive
// stays usable for the next member.
TEST(Archive, SpoiledMembersGiveTheirErrorKind) {
    const std::pair<void (*)(zip::Member&), std::string> defects[] = {
        {[](zip::Member& m) { m.crc ^= 1; }, "IO error: "}, {[](zip::Member& m) { m.method = 1; }, "Zip error: "},
        {[](zip::Member& m) { m.data[m.data.size() / 2] ^= 0x55; }, "IO error: "},
        {[](zip::Member& m) { m.flags |= 1; }, "Zip error: "},  // encrypted
        // A local header that leads outside the archive: the member cannot be opened.
        {[](zip::Member& m) { m.local_name_length = 0xFFFF; }, "Zip error: "}};
    for (std::size_t i = 0; i < std::size(defects); ++i)
        for (bool deflate : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "defect " << i << (deflate ? ", deflated" : ", stored"));
            const auto& [spoil, kind] = defects[i];
            zip::Builder builder;
            deflate ? builder.deflated("m", noise(5000)) : builder.stored("m", noise(5000));
            spoil(builder.last());
            const std::string archive = builder.stored("next", "intact").bytes();
            auto opened = Archive::open(bytes_of(archive));
            ASSERT_TRUE(opened);
            const std::string got = text(opened->member("m"));
            EXPECT_TRUE(got.starts_with(kind) && got.size() > kind.size()) << got;
            EXPECT_EQ(text(opened->member("next")), "intact");
        }
}

// Stored and deflated members read alike. The cap counts decompressed bytes:
// a member one byte short of it is whole, one that reaches it is refused,
// whatever its directory entry declares.
TEST(Archive, CapBoundary) {
    constexpr std::size_t cap = 70'000;  // more than one read chunk
    const std::string exceeds = "Parse error: archive pattern member exceeds 256 MiB";
    for (bool deflate : {false, true})
        for (std::size_t length : {std::size_t(0), cap - 1, cap, 3 * cap}) {
            SCOPED_TRACE(::testing::Message() << "length " << length << (deflate ? ", deflated" : ", stored"));
            const std::string content = noise(length);
            zip::Builder builder;
            deflate ? builder.deflated("m", content) : builder.stored("m", content);
            const std::string got = member(builder.bytes(), "m", cap);
            EXPECT_TRUE(got == (length < cap ? content : exceeds)) << got.substr(0, 80);
            builder.last().size = 10;
            if (length >= cap) EXPECT_EQ(member(builder.bytes(), "m", cap), exceeds);
        }
    // A member of exactly 256 MiB is whole.
    const std::string archive = zip::Builder().compressed("big", zip::deflated_zeros(member_cap - 1)).bytes();
    auto big = Archive::open(bytes_of(archive))->member("big");
    ASSERT_TRUE(big) << big.error().display();
    EXPECT_EQ(big->size(), 256u << 20);
}

}  // namespace
}  // namespace difrax::xml
