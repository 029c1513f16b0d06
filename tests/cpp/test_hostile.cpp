// Hostile inputs: files that declare far more than they hold, decompress far
// beyond their size, nest or expand without end, or end in the middle of a
// character. Each must fail with its own error, without crashing, and without
// allocating more than a small multiple of what it reads and returns.
//
// Every operator new of this test program is counted, so the peak of live
// C++ heap bytes during one load is known exactly. Where the process is not
// run under a sanitizer or valgrind, the growth of the resident set during the
// load is checked as well; it also sees what the C libraries (libzip, zlib,
// expat, ICU) allocate with malloc.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "raw_builder.hpp"
#include "support.hpp"
#include "xml/archive.hpp"
#include "xml/tree.hpp"
#include "zip_builder.hpp"

// ---------------------------------------------------------------------------
// Counting allocator

namespace {

std::atomic<std::size_t> live_bytes{0};
std::atomic<std::size_t> peak_bytes{0};
// Keeps the size in front of each block, so that unsized deletes know it and
// the block stays aligned for any fundamental type.
constexpr std::size_t header = alignof(std::max_align_t);

void* counted_new(std::size_t n) {
    void* raw = std::malloc(n + header);
    if (raw == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(raw) = n;
    const std::size_t now = live_bytes.fetch_add(n) + n;
    std::size_t peak = peak_bytes.load();
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char*>(raw) + header;
}

void counted_delete(void* p) noexcept {
    if (p == nullptr) return;
    void* raw = static_cast<char*>(p) - header;
    live_bytes.fetch_sub(*static_cast<std::size_t*>(raw));
    std::free(raw);
}

}  // namespace

// Never inlined, so that a tool that replaces the allocator (valgrind)
// replaces all of them together.
[[gnu::noinline]] void* operator new(std::size_t n) { return counted_new(n); }
[[gnu::noinline]] void* operator new[](std::size_t n) { return counted_new(n); }
[[gnu::noinline]] void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return counted_new(n);
    } catch (...) {
        return nullptr;
    }
}
[[gnu::noinline]] void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
[[gnu::noinline]] void operator delete(void* p) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_delete(p); }

namespace difrax::testing {
namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

bool under_valgrind() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::string_view(preload).find("vgpreload") != std::string_view::npos;
}

// A field of /proc/self/status in bytes, or nothing.
std::optional<std::size_t> status_bytes(std::string_view key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == ':')
            return static_cast<std::size_t>(std::stoull(line.substr(key.size() + 1))) * KiB;
    return std::nullopt;
}

// Sets the peak resident size back to the current one.
bool reset_rss_peak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

// The resident set is only meaningful without a sanitizer's shadow memory
// and quarantine and outside valgrind.
bool rss_meaningful() { return !sanitized && !under_valgrind(); }

struct Usage {
    std::size_t heap_peak = 0;                // most C++ heap bytes live at once, beyond those before
    std::optional<std::size_t> rss_growth;  // peak resident bytes beyond those before
};

Usage measure(const std::function<void()>& call) {
    std::optional<std::size_t> rss_before;
    if (rss_meaningful()) {
        call();  // first touches of code and data pages are not the load's memory
        if (reset_rss_peak()) rss_before = status_bytes("VmRSS");
    }
    const std::size_t base = live_bytes.load();
    peak_bytes.store(base);
    call();
    Usage usage;
    usage.heap_peak = peak_bytes.load() - base;
    if (rss_before) {
        auto peak = status_bytes("VmHWM");
        if (peak) usage.rss_growth = *peak > *rss_before ? *peak - *rss_before : 0;
    }
    return usage;
}

// The bound that every hostile input is held to: a small multiple of what it
// reads and returns, over a fixed allowance for the libraries' own state.
std::size_t small_multiple(std::size_t input, std::size_t output = 0) { return 1 * MiB + 4 * (input + output); }
// What the C libraries may add on top of the C++ heap (parser and inflate
// state, buffers): measured on the resident set.
constexpr std::size_t library_allowance = 16 * MiB;

void expect_within(const Usage& usage, std::size_t bound) {
    ::testing::Test::RecordProperty("heap_peak", std::to_string(usage.heap_peak));
    ::testing::Test::RecordProperty("bound", std::to_string(bound));
    if (usage.rss_growth) ::testing::Test::RecordProperty("rss_growth", std::to_string(*usage.rss_growth));
    EXPECT_LE(usage.heap_peak, bound) << "C++ heap peak " << usage.heap_peak << " bytes";
    if (usage.rss_growth) EXPECT_LE(*usage.rss_growth, bound + library_allowance) << "resident set growth";
}

// ---------------------------------------------------------------------------
// The inputs

namespace raw = difrax::testing::raw;
namespace zip = difrax::testing::zip;

constexpr std::uint32_t u32_max = 0xFFFFFFFFu;
// Decompressed bytes past the member cap.
constexpr std::uint64_t bomb_size = 256u * MiB + 1 * MiB;

std::string utf16(std::string_view ascii, bool big_endian) {
    std::string s = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        if (big_endian) s.push_back('\0');
        s.push_back(c);
        if (!big_endian) s.push_back('\0');
    }
    return s;
}

std::string rasx_root(std::string_view profile) {
    return "<RootElement><Data0><ContentHashList Name=\"" + std::string(profile) +
           "\"/></Data0></RootElement>";
}

// A RASX file whose profile member inflates to `bomb_size` zero bytes, with
// the directory declaring `declared` bytes for it (the truth when absent).
std::string rasx_bomb(std::optional<std::uint64_t> declared) {
    zip::Builder b;
    b.stored("root.xml", rasx_root("Profile0.txt"));
    b.compressed("Data0/Profile0.txt", zip::deflated_zeros(bomb_size));
    if (declared) b.last().size = *declared;
    return b.bytes();
}

std::string rasx_with_profile(std::string profile) {
    zip::Builder b;
    b.stored("root.xml", rasx_root("Profile0.txt"));
    b.deflated("Data0/Profile0.txt", profile);
    return b.bytes();
}

std::string nested_xml(std::size_t depth) {
    std::string s = "<xrdMeasurements>";
    s.reserve(s.size() + 3 * depth);
    for (std::size_t i = 0; i < depth; ++i) s += "<a>";
    return s;
}

// Ten levels of entities, each ten references to the one below: 10^10
// characters if anything expanded them.
std::string entity_bomb() {
    std::string s = "<?xml version=\"1.0\"?>\n<!DOCTYPE xrdMeasurements [\n<!ENTITY e0 \"lol\">\n";
    for (int level = 1; level <= 10; ++level) {
        s += "<!ENTITY e" + std::to_string(level) + " \"";
        for (int k = 0; k < 10; ++k) s += "&e" + std::to_string(level - 1) + ";";
        s += "\">\n";
    }
    s += "]>\n<xrdMeasurements a=\"&e10;\">&e10;</xrdMeasurements>\n";
    return s;
}

std::string raw3_declaring_points(std::uint32_t points) {
    raw::Raw3Range r;
    r.points = points;
    return raw::raw3({r});
}

// A RAW4 file of two 4-byte records whose header declares other values.
std::string raw4_declaring(std::uint32_t points, std::uint32_t record_size) {
    raw::Raw4Range r;
    r.points = points;
    r.intensities = {1.0f, 2.0f};
    std::string file = raw::raw4({r});
    raw::put_u32(file, raw::raw4_field::file_header + raw::raw4_field::record_size, record_size);
    return file;
}

std::string gsas(std::string_view channels, std::string_view type, std::string_view data) {
    return "hostile\nBANK 1 " + std::string(channels) + " 1 CONS 1000 5 0 0 " + std::string(type) + "\n" +
           std::string(data);
}

std::string chi(std::string_view count) {
    return "title\n2-Theta Angle (Degrees)\nIntensity\n" + std::string(count) + "\n10 1\n10.1 2\n10.2 3\n";
}

std::string ras(std::string_view count) {
    return "*RAS_DATA_START\n*RAS_HEADER_START\n*MEAS_DATA_COUNT \"" + std::string(count) +
           "\"\n*RAS_HEADER_END\n*RAS_INT_START\n10 1\n10.1 2\n10.2 3\n*RAS_INT_END\n*RAS_DATA_END\n";
}

constexpr std::size_t hundred_mb = 100u * 1000u * 1000u;

// A CIF text field that is opened and never closed, 100 MB long.
std::string cif_open_text_field() {
    std::string s = "data_profile\n_pd_meas_number_of_points 3\n_pd_block_note\n;";
    const std::string line = "a line of the note that never ends; no line starts with a semicolon\n";
    s.reserve(hundred_mb + line.size());
    while (s.size() < hundred_mb) s += line;
    return s;
}

// A quoted CIF value without its closing quote, on one 100 MB line.
std::string cif_open_quote() {
    std::string s = "data_profile\n_pd_block_note 'it";
    s.resize(hundred_mb, 'x');
    return s;
}

std::string parse_error(std::string_view message) { return "Parse error: " + std::string(message); }

std::string truncated_record(std::uint64_t offset, std::uint64_t needs, std::size_t length) {
    return parse_error("Bruker RAW: truncated record at offset " + std::to_string(offset) + ": needs " +
                       std::to_string(needs) + " bytes, file has " + std::to_string(length));
}

// ---------------------------------------------------------------------------
// Loads through the public entry point

struct Hostile {
    std::string name;
    std::function<std::string()> make;
    std::string filename;
    // The expected display text, given the input.
    std::function<std::string(const std::string&)> error;
    // The memory bound, given the input size; small_multiple by default.
    std::function<std::size_t(std::size_t)> bound = [](std::size_t n) { return small_multiple(n); };
    std::uint64_t index = 0;
};

// Shown by GoogleTest for the parameter (instead of the object's bytes).
void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

std::function<std::string(const std::string&)> is(std::string text) {
    return [text = std::move(text)](const std::string&) { return text; };
}

// A bomb member is read until the cap: the buffer doubles towards it, so the
// old and the new buffer are live together once.
std::size_t bomb_bound(std::size_t input) { return 2 * xml::member_cap + small_multiple(input); }

const std::string truncated_utf16 = parse_error("truncated UTF-16 text");
const std::string invalid_utf16 = parse_error("invalid UTF-16 text");

std::vector<Hostile> hostile_inputs() {
    const std::string points = "10 1\n10.1 2\n10.2 3\n";
    const raw::Raw3Range r3;
    return {
        // ZIP members that inflate past 256 MiB, with a true and a lying directory.
        {"zip_bomb", [] { return rasx_bomb(std::nullopt); }, "scan.rasx",
         is(parse_error("archive pattern member exceeds 256 MiB")), bomb_bound},
        {"zip_bomb_declared_small", [] { return rasx_bomb(1000); }, "scan.rasx",
         is(parse_error("archive pattern member exceeds 256 MiB")), bomb_bound},
        // XML that nests a million levels deep, and entities that would expand to 10^10 characters.
        {"xml_nested_1e6", [] { return nested_xml(1000000); }, "scan.xrdml",
         is(parse_error("XML nesting exceeds 128 elements"))},
        {"xml_entity_expansion", entity_bomb, "scan.xrdml",
         is(parse_error("XML document type declarations are not supported"))},
        // RAW headers that declare 2^32 - 1 of something in a file of about a kilobyte.
        {"raw3_points_max", [] { return raw3_declaring_points(u32_max); }, "scan.raw",
         [r3](const std::string& in) {
             return truncated_record(raw::raw3_field::first_range + r3.header_size, 4ull * u32_max, in.size());
         }},
        {"raw3_ranges_max", [] { return raw::raw3({raw::Raw3Range{}}, u32_max); }, "scan.raw",
         is(parse_error("Bruker RAW: invalid RAW3 range count 4294967295"))},
        {"raw3_ranges_4096", [] { return raw::raw3({raw::Raw3Range{}}, 4096); }, "scan.raw",
         [](const std::string& in) { return truncated_record(in.size(), 4, in.size()); }},
        {"raw3_header_size_max",
         [] {
             raw::Raw3Range r;
             std::string file = raw::raw3({r});
             raw::put_u32(file, raw::raw3_field::first_range + raw::raw3_field::header_size, u32_max);
             return file;
         },
         "scan.raw", is(parse_error("Bruker RAW: invalid RAW3 range-header size 4294967295"))},
        {"raw3_extra_size_max",
         [] {
             std::string file = raw::raw3({raw::Raw3Range{}});
             raw::put_u32(file, raw::raw3_field::first_range + raw::raw3_field::extra_size, u32_max);
             return file;
         },
         "scan.raw", is(parse_error("Bruker RAW: invalid RAW3 extra-record length"))},
        {"raw4_points_max", [] { return raw4_declaring(u32_max, 4); }, "scan.raw",
         [](const std::string& in) {
             return truncated_record(raw::raw4_field::file_header + raw::raw4_field::drives, 4ull * u32_max,
                                     in.size());
         }},
        {"raw4_points_and_record_size_max", [] { return raw4_declaring(u32_max, 0xFFFFFFFCu); }, "scan.raw",
         [](const std::string& in) {
             return truncated_record(raw::raw4_field::file_header + raw::raw4_field::drives,
                                     std::uint64_t{u32_max} * 0xFFFFFFFCu, in.size());
         }},
        {"raw4_drive_header_max",
         [] {
             std::string file = raw4_declaring(3, 4);
             raw::put_u32(file, raw::raw4_field::file_header + raw::raw4_field::drive_size, u32_max);
             return file;
         },
         "scan.raw", is(parse_error("Bruker RAW: RAW4 drive header exceeds 1 MiB"))},
        // GSAS banks that declare 10^15 channels or more and hold three.
        {"gsas_std_1e15", [] { return gsas("1000000000000000", "STD", "1 2 3\n"); }, "scan.gsa",
         is(parse_error("GSAS STD: data is shorter than the declared 1000000000000000 channels"))},
        {"gsas_esd_1e15", [] { return gsas("1000000000000000", "ESD", "1 0.1 2 0.1 3 0.1\n"); }, "scan.gsa",
         is(parse_error("GSAS ESD: data is shorter than the declared 1000000000000000 channels"))},
        {"gsas_esd_2pow63", [] { return gsas("9223372036854775808", "ESD", "1 0.1\n"); }, "scan.gsa",
         is(parse_error("GSAS ESD: data is shorter than the declared 9223372036854775808 channels"))},
        {"gsas_std_2pow64_minus_1", [] { return gsas("18446744073709551615", "STD", "1 2 3\n"); }, "scan.gsa",
         is(parse_error("GSAS STD: data is shorter than the declared 18446744073709551615 channels"))},
        {"gsas_fxye_1e15", [] { return gsas("1000000000000000", "FXYE", "1000 1 1\n1005 2 1\n1010 3 1\n"); },
         "scan.gsa", is(parse_error("GSAS FXYE: BANK declares 1000000000000000 points but 3 were read"))},
        // Point counts of 2^64 - 1, and one more.
        {"chi_count_max", [] { return chi("18446744073709551615"); }, "scan.chi",
         is(parse_error("CHI: header declares 18446744073709551615 points but 3 were read"))},
        {"chi_count_overflow", [] { return chi("18446744073709551616"); }, "scan.chi",
         is(parse_error("CHI: invalid point count"))},
        {"ras_count_max", [] { return ras("18446744073709551615"); }, "scan.ras",
         is(parse_error("RAS: declared point count disagrees with intensity block"))},
        {"ras_count_overflow", [] { return ras("18446744073709551616"); }, "scan.ras",
         is(parse_error("RAS: invalid point count"))},
        // 100 MB of CIF that never closes.
        {"cif_open_text_field_100mb", cif_open_text_field, "scan.cif",
         is(parse_error("pdCIF: unterminated semicolon text field"))},
        {"cif_open_quote_100mb", cif_open_quote, "scan.cif", is(parse_error("pdCIF: unterminated quoted value"))},
        // UTF-16 that stops in the middle of a code unit or of a surrogate pair.
        {"utf16le_odd_length", [points] { return utf16(points, false) + "\x31"; }, "", is(truncated_utf16)},
        {"utf16be_odd_length", [points] { return utf16(points, true) + "\x31"; }, "scan.gsa", is(truncated_utf16)},
        {"utf16le_lone_high_surrogate_at_end", [points] { return utf16(points, false) + std::string("\x00\xD8", 2); }, "",
         is(invalid_utf16)},
        {"utf16be_lone_high_surrogate_at_end", [points] { return utf16(points, true) + std::string("\xD8\x00", 2); }, "scan.cif",
         is(invalid_utf16)},
        {"utf16le_lone_low_surrogate_at_end", [points] { return utf16(points, false) + std::string("\x00\xDC", 2); },
         "scan.xrdml", is(invalid_utf16)},
        {"utf16_odd_length_in_rasx_profile",
         [points] { return rasx_with_profile(utf16(points, false) + "\x31"); }, "scan.rasx", is(truncated_utf16)},
        {"utf16_lone_surrogate_in_rasx_profile",
         [points] { return rasx_with_profile(utf16(points, true) + std::string("\xD8\x00", 2)); }, "scan.rasx", is(invalid_utf16)},
    };
}

class HostileInput : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, FailsWithItsErrorWithinItsMemoryBound) {
    const Hostile& h = GetParam();
    const std::string input = h.make();
    std::string got;
    Usage usage = measure([&] { got = error_text(load(input, h.filename, h.index)); });
    EXPECT_EQ(got, h.error(input));
    expect_within(usage, h.bound(input.size()));
}

INSTANTIATE_TEST_SUITE_P(Loads, HostileInput, ::testing::ValuesIn(hostile_inputs()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The pieces underneath, called directly

TEST(HostileArchive, MemberPastTheCapIsRefusedWhateverTheDirectoryDeclares) {
    for (std::optional<std::uint64_t> declared : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{0},
                                                  std::optional<std::uint64_t>{u32_max}}) {
        const std::string input = rasx_bomb(declared);
        auto archive = xml::Archive::open(bytes_of(input));
        ASSERT_TRUE(archive.has_value());
        std::string got;
        Usage usage = measure([&] { got = error_text(archive->member("Data0/Profile0.txt")); });
        EXPECT_EQ(got, parse_error("archive pattern member exceeds 256 MiB"));
        expect_within(usage, bomb_bound(input.size()));
    }
}

// A directory that declares about 4 GiB, or nothing, for a member of a few
// bytes: the member is read as far as its data go, and the declared size is
// never reserved beyond what the input can inflate to. (0xFFFFFFFF itself
// would announce a ZIP64 record.)
TEST(HostileArchive, DeclaredSizesAreNotTrusted) {
    const std::string content = "10 1\n10.1 2\n10.2 3\n";
    for (std::uint64_t declared : {std::uint64_t{u32_max - 1}, std::uint64_t{1} << 30, std::uint64_t{0}}) {
        zip::Builder b;
        b.deflated("Data0/Profile0.txt", content);
        b.last().size = declared;
        const std::string input = b.bytes();
        auto archive = xml::Archive::open(bytes_of(input));
        ASSERT_TRUE(archive.has_value());
        std::string got;
        // Deflate cannot expand by more than 1032 to 1.
        Usage usage = measure([&] {
            auto member = archive->member("Data0/Profile0.txt");
            got = member ? std::string(reinterpret_cast<const char*>(member->data()), member->size())
                         : error_text(member);
        });
        EXPECT_EQ(got, content) << "declared " << declared;
        expect_within(usage, small_multiple(1032 * input.size()));
    }
}

TEST(HostileXml, DeepNestingStopsAtTheLimit) {
    const std::string input = nested_xml(1000000);
    std::string got;
    Usage usage = measure([&] { got = error_text(xml::document(bytes_of(input))); });
    EXPECT_EQ(got, parse_error("XML nesting exceeds 128 elements"));
    expect_within(usage, small_multiple(input.size()));
}

TEST(HostileXml, EntityDeclarationsAreNeverExpanded) {
    const std::string input = entity_bomb();
    std::string got;
    Usage usage = measure([&] { got = error_text(xml::document(bytes_of(input))); });
    EXPECT_EQ(got, parse_error("XML document type declarations are not supported"));
    expect_within(usage, small_multiple(input.size()));
}

TEST(HostileXml, UnevenUtf16IsRefused) {
    const std::string doc = "<xrdMeasurements/>";
    EXPECT_EQ(error_text(xml::document(bytes_of(utf16(doc, false) + "<"))), truncated_utf16);
    EXPECT_EQ(error_text(xml::document(bytes_of(utf16(doc, true) + "\xDB\xFF"))), invalid_utf16);
}

// The counter must see the library's allocations, or the bounds above would
// hold trivially.
TEST(HostileMeasure, CountsTheLibrarysAllocations) {
    if (under_valgrind()) GTEST_SKIP() << "valgrind replaces the allocator";
    std::string input;
    for (int i = 0; i < 100000; ++i) input += std::to_string(10 + i * 0.01) + " " + std::to_string(i % 97) + "\n";
    std::size_t n = 0;
    Usage usage = measure([&] {
        auto p = load(input, "scan.xy");
        n = p ? p->size() : 0;
    });
    ASSERT_EQ(n, 100000u);
    EXPECT_GE(usage.heap_peak, 2 * n * sizeof(double));
}

}  // namespace
}  // namespace difrax::testing
