// Members of ZIP containers: lookup by exact name, stored and deflated content,
// the error kinds of damaged archives, and the 256 MiB cap.
#include <cstdint>
#include <string>
#include <vector>

#include "support.hpp"
#include "xml/archive.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using difrax::testing::bytes_of;
using difrax::testing::error_text;
namespace zip = difrax::testing::zip;

std::string as_string(const std::vector<std::byte>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

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

Result<std::vector<std::byte>> read_member(const std::string& archive, std::string_view name,
                                           std::size_t cap = member_cap) {
    auto opened = Archive::open(bytes_of(archive));
    if (!opened) return std::unexpected(opened.error());
    return opened->member(name, cap);
}

class Content : public ::testing::TestWithParam<std::string> {};

TEST_P(Content, StoredAndDeflatedMembersReadTheSame) {
    const std::string& content = GetParam();
    std::string archive = zip::Builder().stored("a.bin", content).deflated("b.bin", content).bytes();
    for (const char* name : {"a.bin", "b.bin"}) {
        auto got = read_member(archive, name);
        ASSERT_TRUE(got) << name << ": " << error_text(got);
        EXPECT_EQ(as_string(*got), content) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Content,
                         ::testing::Values(std::string(), std::string("1 2\n3 4\n"), noise(200'000),
                                           std::string(300'000, 'x')));

TEST(Archive, NamesInDirectoryOrderAsStored) {
    std::string archive = zip::Builder()
                              .stored("root.xml", "<r/>")
                              .stored("Data0/", "")
                              .deflated("Data0/Profile0.txt", "1 2")
                              .stored("Ab\xe9.txt", "latin-1 name")
                              .bytes();
    auto opened = Archive::open(bytes_of(archive));
    ASSERT_TRUE(opened) << error_text(opened);
    EXPECT_EQ(opened->names(), (std::vector<std::string>{"root.xml", "Data0/", "Data0/Profile0.txt", "Ab\xe9.txt"}));
    auto raw = opened->member("Ab\xe9.txt");
    ASSERT_TRUE(raw) << error_text(raw);
    EXPECT_EQ(as_string(*raw), "latin-1 name");
}

TEST(Archive, LookupIsByExactStoredPath) {
    std::string archive =
        zip::Builder().stored("Root.xml", "<r/>").stored("Experiment0/RawData0.xml", "<x/>").bytes();
    for (std::string_view asked : {std::string_view("root.xml"), std::string_view("RawData0.xml"),
                                   std::string_view("/Experiment0/RawData0.xml"),
                                   std::string_view("experiment0/RawData0.xml"),
                                   std::string_view("Root.xml\0junk", 13), std::string_view("Root.xml ")}) {
        auto got = read_member(archive, asked);
        ASSERT_FALSE(got) << asked;
        EXPECT_EQ(got.error(), Error::file_not_found_in_archive(std::string(asked)));
    }
    EXPECT_TRUE(read_member(archive, "Experiment0/RawData0.xml"));
}

TEST(Archive, InputsThatAreNotArchivesAreZipErrors) {
    std::string good = zip::Builder().stored("a.txt", "abc").bytes();
    for (const std::string& input : {std::string("PK\x03\x04 not an archive"), good.substr(0, good.size() - 10)}) {
        auto opened = Archive::open(bytes_of(input));
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error().kind(), Error::Kind::Zip) << opened.error().display();
        EXPECT_FALSE(opened.error().message().empty());
    }
}

// A member that one defect spoils, and the kind of error it must give.
struct Defect {
    const char* what;
    void (*spoil)(zip::Member&);
    Error::Kind kind;
};

class Spoiled : public ::testing::TestWithParam<Defect> {};

TEST_P(Spoiled, GivesItsErrorKind) {
    for (bool deflate : {false, true}) {
        zip::Builder builder;
        const std::string content = noise(5000);
        if (deflate)
            builder.deflated("m", content);
        else
            builder.stored("m", content);
        GetParam().spoil(builder.last());
        builder.stored("next", "intact");
        std::string archive = builder.bytes();

        auto opened = Archive::open(bytes_of(archive));
        ASSERT_TRUE(opened) << error_text(opened);
        auto got = opened->member("m");
        ASSERT_FALSE(got) << GetParam().what << (deflate ? " (deflated)" : " (stored)");
        EXPECT_EQ(got.error().kind(), GetParam().kind) << GetParam().what << ": " << got.error().display();
        // The archive stays usable for the next member.
        auto next = opened->member("next");
        ASSERT_TRUE(next) << error_text(next);
        EXPECT_EQ(as_string(*next), "intact");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Members, Spoiled,
    ::testing::Values(Defect{"CRC-32 mismatch", [](zip::Member& m) { m.crc ^= 1; }, Error::Kind::Io},
                      Defect{"altered data", [](zip::Member& m) { m.data[m.data.size() / 2] ^= 0x55; },
                             Error::Kind::Io},
                      Defect{"unsupported method", [](zip::Member& m) { m.method = 1; }, Error::Kind::Zip},
                      Defect{"encrypted", [](zip::Member& m) { m.flags |= 1; }, Error::Kind::Zip},
                      // libzip reads the local header lazily: its damage shows at the first read.
                      Defect{"local header beyond the archive", [](zip::Member& m) { m.local_name_length = 0xFFFF; },
                             Error::Kind::Io}));

// The cap counts decompressed bytes: a member one byte short of it is whole,
// one that reaches it is refused, whatever its directory entry declares.
TEST(Archive, CapBoundary) {
    constexpr std::size_t cap = 70'000;  // more than one read chunk
    for (std::uint16_t method : {zip::stored_method, zip::deflate_method}) {
        for (std::size_t length : {std::size_t(0), cap - 1, cap, cap + 1, 3 * cap}) {
            const std::string content = noise(length);
            zip::Builder builder;
            method == zip::stored_method ? builder.stored("m", content) : builder.deflated("m", content);
            SCOPED_TRACE(::testing::Message() << "method " << method << ", length " << length);
            auto got = read_member(builder.bytes(), "m", cap);
            if (length < cap) {
                ASSERT_TRUE(got) << error_text(got);
                EXPECT_EQ(as_string(*got), content);
                continue;
            }
            EXPECT_EQ(error_text(got), "Parse error: archive pattern member exceeds 256 MiB");
            builder.last().size = 10;
            EXPECT_EQ(error_text(read_member(builder.bytes(), "m", cap)),
                      "Parse error: archive pattern member exceeds 256 MiB");
        }
    }
}

TEST(Archive, DeclaredSizeIsNotTakenOnTrust) {
    for (std::uint64_t declared : {std::uint64_t(0xFFFFFFFF), std::uint64_t(1) << 40}) {
        zip::Builder builder;
        builder.deflated("m", "10 1\n");
        builder.last().size = declared;  // in a ZIP64 extra field
        auto got = read_member(builder.bytes(), "m");
        ASSERT_TRUE(got) << error_text(got);
        EXPECT_EQ(as_string(*got), "10 1\n");
        EXPECT_LT(got->capacity(), 1u << 20);
    }
}

TEST(Archive, DeflateBombStopsAtTheCap) {
    zip::Compressed bomb = zip::deflated_zeros(member_cap);
    ASSERT_LT(bomb.data.size(), 1u << 20);
    zip::Builder builder;
    builder.compressed("Data0/Profile0.txt", std::move(bomb));
    builder.last().size = 1000;
    auto got = read_member(builder.bytes(), "Data0/Profile0.txt");
    EXPECT_EQ(error_text(got), "Parse error: archive pattern member exceeds 256 MiB");
}

TEST(Archive, MemberOfExactly256MiBIsWhole) {
    std::string archive = zip::Builder().compressed("big", zip::deflated_zeros(member_cap - 1)).bytes();
    auto got = read_member(archive, "big");
    ASSERT_TRUE(got) << error_text(got);
    EXPECT_EQ(got->size(), member_cap - 1);
    EXPECT_EQ(got->capacity(), member_cap);
}

}  // namespace
}  // namespace difrax::xml
