// Members of ZIP containers: lookup by exact name, stored and deflated content,
// the error kinds of damaged archives, and the 256 MiB cap.
#include "support.hpp"
#include "xml/archive.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using difrax::testing::bytes_of;
namespace zip = difrax::testing::zip;

// Bytes that deflate poorly, so that compressed members stay large.
std::string noise(std::size_t n) {
    std::string out(n, '\0');
    std::uint32_t state = 12345;
    for (char& c : out) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23);
    }
    return out;
}

std::string text(const Result<std::vector<std::byte>>& r) {
    return r ? std::string(reinterpret_cast<const char*>(r->data()), r->size()) : r.error().display();
}

// The member's content, or the display text of the error.
std::string member(const std::string& archive, std::string_view name, std::size_t cap = member_cap) {
    auto opened = Archive::open(bytes_of(archive));
    return opened ? text(opened->member(name, cap)) : opened.error().display();
}

// An archive of the one member "m", stored or deflated.
std::string with(bool deflate, const std::string& content) {
    zip::Builder b;
    return (deflate ? b.deflated("m", content) : b.stored("m", content)).bytes();
}

TEST(Archive, StoredAndDeflatedMembersReadTheSame) {
    const std::string contents[] = {"", "1 2\n3 4\n", noise(200'000), std::string(300'000, 'x')};
    for (const std::string& content : contents)
        for (bool deflate : {false, true})
            EXPECT_TRUE(member(with(deflate, content), "m") == content) << content.size() << ", deflated " << deflate;
}

TEST(Archive, NamesAndLookupAreExactStoredPaths) {
    const std::string archive = zip::Builder()
                                    .stored("Root.xml", "<r/>")
                                    .stored("Data0/", "")
                                    .deflated("Experiment0/RawData0.xml", "<x/>")
                                    .stored("Ab\xe9.txt", "latin-1 name")
                                    .bytes();
    EXPECT_EQ(Archive::open(bytes_of(archive))->names(),
              (std::vector<std::string>{"Root.xml", "Data0/", "Experiment0/RawData0.xml", "Ab\xe9.txt"}));
    EXPECT_EQ(member(archive, "Ab\xe9.txt"), "latin-1 name");
    EXPECT_EQ(member(archive, "Experiment0/RawData0.xml"), "<x/>");
    using namespace std::string_literals;
    for (std::string asked : {"root.xml"s, "RawData0.xml"s, "/Experiment0/RawData0.xml"s, "experiment0/RawData0.xml"s,
                              "Root.xml\0junk"s, "Root.xml "s})
        EXPECT_EQ(member(archive, asked), "File not found in archive: " + asked) << asked;
}

TEST(Archive, InputsThatAreNotArchivesAreZipErrors) {
    const std::string good = zip::Builder().stored("a.txt", "abc").bytes();
    for (const std::string& input : {std::string("PK\x03\x04 not an archive"), good.substr(0, good.size() - 10)})
        EXPECT_TRUE(member(input, "a.txt").starts_with("Zip error: ")) << member(input, "a.txt");
}

// A member spoiled by one defect gives its kind of error, and the archive
// stays usable for the next member.
TEST(Archive, SpoiledMembersGiveTheirErrorKind) {
    const struct {
        void (*spoil)(zip::Member&);
        std::string kind;
    } defects[] = {{[](zip::Member& m) { m.crc ^= 1; }, "IO error: "},
                   {[](zip::Member& m) { m.data[m.data.size() / 2] ^= 0x55; }, "IO error: "},
                   {[](zip::Member& m) { m.method = 1; }, "Zip error: "},
                   {[](zip::Member& m) { m.flags |= 1; }, "Zip error: "},  // encrypted
                   // libzip reads the local header lazily: its damage shows at the first read.
                   {[](zip::Member& m) { m.local_name_length = 0xFFFF; }, "IO error: "}};
    for (const auto& d : defects)
        for (bool deflate : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "defect " << &d - defects << (deflate ? ", deflated" : ", stored"));
            zip::Builder builder;
            deflate ? builder.deflated("m", noise(5000)) : builder.stored("m", noise(5000));
            d.spoil(builder.last());
            const std::string archive = builder.stored("next", "intact").bytes();
            auto opened = Archive::open(bytes_of(archive));
            ASSERT_TRUE(opened);
            const std::string got = text(opened->member("m"));
            EXPECT_TRUE(got.starts_with(d.kind) && got.size() > d.kind.size()) << got;
            EXPECT_EQ(text(opened->member("next")), "intact");
        }
}

// The cap counts decompressed bytes: a member one byte short of it is whole,
// one that reaches it is refused, whatever its directory entry declares.
TEST(Archive, CapBoundary) {
    constexpr std::size_t cap = 70'000;  // more than one read chunk
    const std::string exceeds = "Parse error: archive pattern member exceeds 256 MiB";
    for (bool deflate : {false, true})
        for (std::size_t length : {std::size_t(0), cap - 1, cap, cap + 1, 3 * cap}) {
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
