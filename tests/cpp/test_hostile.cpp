// Hostile inputs: files that declare far more than they hold, decompress far
// beyond their size, nest or expand without end, or end in the middle of a
// character. Each must fail with its own error, without crashing, and without
// allocating more than a small multiple of what it reads. Every operator new
// of this program is counted; outside sanitizers and valgrind the growth of
// the resident set is checked too, which also sees what the C libraries
// (libzip, zlib, expat, ICU) allocate with malloc.
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>

#include "raw_builder.hpp"
#include "support.hpp"
#include "xml/archive.hpp"
#include "zip_builder.hpp"

namespace {

// Counted by what malloc reserves for each block, which it knows again on
// delete. The library starts no threads, so plain counters do.
std::size_t live_bytes = 0, peak_bytes = 0;

void* counted_new(std::size_t n) noexcept {
    void* p = std::malloc(n);
    if (p != nullptr) peak_bytes = std::max(peak_bytes, live_bytes += malloc_usable_size(p));
    return p;
}

void counted_delete(void* p) noexcept {
    live_bytes -= malloc_usable_size(p);
    std::free(p);
}

}  // namespace

// All of them, never inlined, so that a tool that replaces the allocator
// (valgrind) replaces all of them together.
[[gnu::noinline]] void* operator new(std::size_t n) {
    if (void* p = counted_new(n)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t n) { return ::operator new(n); }
[[gnu::noinline]] void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted_new(n); }
[[gnu::noinline]] void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted_new(n); }
[[gnu::noinline]] void operator delete(void* p) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { counted_delete(p); }
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_delete(p); }

namespace difrax::testing {
namespace {

constexpr std::size_t MiB = 1024 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

bool under_valgrind() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::string_view(preload).find("vgpreload") != std::string_view::npos;
}

// A field of /proc/self/status ("VmRSS", "VmHWM") in bytes, or nothing.
std::optional<std::size_t> status_bytes(const std::string& key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + ":")) return std::stoull(line.substr(key.size() + 1)) * 1024;
    return std::nullopt;
}

// What every hostile input is held to: a small multiple of what it reads, over
// a fixed allowance for the libraries' own state. The C libraries may add
// their parser and inflate state and buffers, seen on the resident set only.
std::size_t small_multiple(std::size_t bytes) { return 1 * MiB + 4 * bytes; }
constexpr std::size_t library_allowance = 16 * MiB;

// Runs `call`, expects its C++ heap peak and resident set growth to stay
// within `bound`, and returns the heap peak.
std::size_t expect_within(std::size_t bound, const std::function<void()>& call) {
    std::optional<std::size_t> rss_before;
    // The resident set means nothing under a sanitizer's shadow memory and
    // quarantine, or under valgrind.
    if (!sanitized && !under_valgrind()) {
        call();  // first touches of code and data pages are not the load's memory
        std::ofstream clear("/proc/self/clear_refs");  // "5" sets the peak resident size back to the current one
        if (clear << "5" << std::flush) rss_before = status_bytes("VmRSS");
    }
    const std::size_t base = peak_bytes = live_bytes;
    call();
    EXPECT_LE(peak_bytes - base, bound) << "C++ heap peak";
    if (auto rss_peak = rss_before ? status_bytes("VmHWM") : std::nullopt) {
        EXPECT_LE(*rss_peak, *rss_before + bound + library_allowance) << "resident set peak";
    }
    return peak_bytes - base;
}

// The inputs

constexpr std::uint32_t u32_max = 0xFFFFFFFFu;
const std::string points = "10 1\n10.1 2\n10.2 3\n";
const std::string u64_max = "18446744073709551615";

std::string repeat(std::string_view piece, std::size_t count) {
    std::string s;
    while (count-- > 0) s += piece;
    return s;
}

std::string utf16(std::string_view ascii, bool big_endian) {
    std::string s = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) s += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    return s;
}

// A RASX file whose profile, deflated beforehand, has `declared` bytes in the
// directory when given (the truth otherwise).
std::string rasx(zip::Compressed profile, std::optional<std::uint64_t> declared = std::nullopt) {
    zip::Builder b;
    b.stored("root.xml", "<RootElement><Data0><ContentHashList Name=\"Profile0.txt\"/></Data0></RootElement>");
    b.compressed("Data0/Profile0.txt", std::move(profile));
    if (declared) b.last().size = *declared;
    return b.bytes();
}
zip::Compressed deflated(const std::string& text) { return {zip::deflate_raw(text), zip::crc_of(text), text.size()}; }

// Ten levels of entities, each ten references to the one below: 10^10
// characters if anything expanded them.
std::string entity_bomb() {
    std::string s = "<?xml version=\"1.0\"?>\n<!DOCTYPE xrdMeasurements [\n<!ENTITY e0 \"lol\">\n";
    for (int level = 1; level <= 10; ++level) {
        const std::string below = "&e" + std::to_string(level - 1) + ";";
        s += "<!ENTITY e" + std::to_string(level) + " \"" + repeat(below, 10) + "\">\n";
    }
    return s + "]>\n<xrdMeasurements a=\"&e10;\">&e10;</xrdMeasurements>\n";
}

std::string gsas(const std::string& channels, const std::string& type, const std::string& data) {
    return "hostile\nBANK 1 " + channels + " 1 CONS 1000 5 0 0 " + type + "\n" + data;
}
std::string chi(const std::string& count) {
    return "title\n2-Theta Angle (Degrees)\nIntensity\n" + count + "\n" + points;
}
std::string ras(const std::string& count) {
    return "*RAS_DATA_START\n*RAS_HEADER_START\n*MEAS_DATA_COUNT \"" + count +
           "\"\n*RAS_HEADER_END\n*RAS_INT_START\n" + points + "*RAS_INT_END\n*RAS_DATA_END\n";
}

// Loads through the public entry point

struct Hostile {
    std::string name;
    std::function<std::string()> make;
    std::string filename;
    std::string error;          // the display text after "Parse error: "
    std::size_t allowance = 0;  // bytes allowed on top of small_multiple
};

// Shown by GoogleTest for the parameter (instead of the object's bytes).
void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

std::vector<Hostile> hostile_inputs() {
    // A bomb member is read until the cap: the buffer doubles towards it, so
    // the old and the new buffer are live together once.
    constexpr std::size_t bomb = 2 * xml::member_cap;
    constexpr std::uint64_t zeros = 257 * MiB;  // 1 MiB past the cap
    const std::string past_cap = "archive pattern member exceeds 256 MiB";
    const std::string raw = "Bruker RAW: ", raw_truncated = raw + "truncated record at offset ";
    // One-range RAW files of three points: 712 + 304 + 3 * 4 = 1028 bytes with
    // the range header at 712, and 61 + 160 + 3 * 4 = 233 with it at 61; one
    // field overwritten, with 2^32 - 1 unless said otherwise.
    namespace f3 = raw::raw3_field;
    namespace f4 = raw::raw4_field;
    constexpr std::size_t r3 = f3::first_range, r4 = f4::file_header;
    auto raw3_with = [](std::size_t at, std::uint32_t value = u32_max) {
        return [=] { return raw::with(raw::raw3({raw::Raw3Range{}}), at, value); };
    };
    auto raw4_with = [](std::size_t at, std::uint32_t value = u32_max) {
        return [=] { return raw::with(raw::raw4({raw::Raw4Range{}}), r4 + at, value); };
    };
    return {
        // ZIP members that inflate past 256 MiB, with a true directory and with one declaring nothing.
        {"zip_bomb", [] { return rasx(zip::deflated_zeros(zeros)); }, "scan.rasx", past_cap, bomb},
        {"zip_bomb_declared_empty", [] { return rasx(zip::deflated_zeros(zeros), 0); }, "scan.rasx", past_cap, bomb},
        // XML that nests a million levels deep, and entities that would expand to 10^10 characters.
        {"xml_nested_1e6", [] { return "<xrdMeasurements>" + repeat("<a>", 1'000'000); }, "scan.xrdml",
         "XML nesting exceeds 128 elements"},
        {"xml_entity_expansion", entity_bomb, "scan.xrdml", "XML document type declarations are not supported"},
        // RAW headers that declare 2^32 - 1 (or 4096 ranges) of something in a file of about a kilobyte.
        {"raw3_points_max", raw3_with(r3 + f3::points), "scan.raw",
         raw_truncated + "1016: needs 17179869180 bytes, file has 1028"},
        {"raw3_ranges_max", raw3_with(f3::range_count), "scan.raw", raw + "invalid RAW3 range count 4294967295"},
        {"raw3_ranges_4096", raw3_with(f3::range_count, 4096), "scan.raw",
         raw_truncated + "1028: needs 4 bytes, file has 1028"},
        {"raw3_header_size_max", raw3_with(r3 + f3::header_size), "scan.raw",
         raw + "invalid RAW3 range-header size 4294967295"},
        {"raw3_extra_size_max", raw3_with(r3 + f3::extra_size), "scan.raw", raw + "invalid RAW3 extra-record length"},
        {"raw4_points_and_record_size_max",
         [=] { return raw::with(raw4_with(f4::points)(), r4 + f4::record_size, 0xFFFFFFFC); }, "scan.raw",
         raw_truncated + "221: needs 18446744052234715140 bytes, file has 233"},
        {"raw4_drive_header_max", raw4_with(f4::drive_size), "scan.raw", raw + "RAW4 drive header exceeds 1 MiB"},
        // GSAS banks that declare 2^64 - 1 or 2^63 channels, or 10^15 points, and hold at most three.
        {"gsas_std_2pow64_minus_1", [] { return gsas(u64_max, "STD", "1 2 3\n"); }, "scan.gsa",
         "GSAS STD: data is shorter than the declared " + u64_max + " channels"},
        {"gsas_esd_2pow63", [] { return gsas("9223372036854775808", "ESD", "1 0.1\n"); }, "scan.gsa",
         "GSAS ESD: data is shorter than the declared 9223372036854775808 channels"},
        {"gsas_fxye_1e15", [] { return gsas("1000000000000000", "FXYE", "1000 1 1\n1005 2 1\n1010 3 1\n"); },
         "scan.gsa", "GSAS FXYE: BANK declares 1000000000000000 points but 3 were read"},
        // Point counts of 2^64 - 1, and one more.
        {"chi_count_max", [] { return chi(u64_max); }, "scan.chi",
         "CHI: header declares " + u64_max + " points but 3 were read"},
        {"chi_count_overflow", [] { return chi("18446744073709551616"); }, "scan.chi", "CHI: invalid point count"},
        {"ras_count_max", [] { return ras(u64_max); }, "scan.ras",
         "RAS: declared point count disagrees with intensity block"},
        {"ras_count_overflow", [] { return ras("18446744073709551616"); }, "scan.ras", "RAS: invalid point count"},
        // 100 MB of CIF that never closes: a text field, and a quoted value on one line.
        {"cif_open_text_field_100mb",
         [] {
             return "data_profile\n_pd_meas_number_of_points 3\n_pd_block_note\n;" +
                    repeat("a line of the note that never ends; no line starts with a semicolon\n", 1'500'000);
         },
         "scan.cif", "pdCIF: unterminated semicolon text field"},
        // Two thousand blocks, each with a profile loop long enough to be given room for the rest of the text.
        {"cif_many_profile_blocks",
         [] {
             std::string s;
             for (int i = 0; i < 2000; ++i)
                 s += "data_b" + std::to_string(i) + "\nloop_ _pd_meas_counts_total\n" + repeat("1234.5 ", 100) + "\n";
             return s;
         },
         "scan.cif", "pdCIF: no matching block with 2theta and intensity data"},
        // Half a million empty data blocks (3 MB): blocks without a profile are let go as they end.
        {"cif_empty_blocks", [] { return "data_head\n_pd_block_id x\n" + repeat("data_\n", 500'000); }, "scan.cif",
         "pdCIF: no matching block with 2theta and intensity data"},
        {"cif_open_quote_100mb", [] { return "data_profile\n_pd_block_note 'it" + repeat("xxxxxxxxxx", 10'000'000); },
         "scan.cif", "pdCIF: unterminated quoted value"},
        // UTF-16 that stops in the middle of a code unit or of a surrogate pair: detection decodes the text
        // first, whatever the file name says; a RASX profile is decoded by the reader.
        {"utf16le_odd_length", [] { return utf16(points, false) + "1"; }, "", "truncated UTF-16 text"},
        {"utf16be_lone_high_surrogate_at_end", [] { return utf16(points, true) + std::string("\xD8\x00", 2); },
         "scan.cif", "invalid UTF-16 text"},
        {"utf16le_lone_low_surrogate_at_end", [] { return utf16(points, false) + std::string("\x00\xDC", 2); },
         "scan.xrdml", "invalid UTF-16 text"},
        {"utf16_odd_length_in_rasx_profile", [] { return rasx(deflated(utf16(points, false) + "1")); }, "scan.rasx",
         "truncated UTF-16 text"},
    };
}

class HostileInput : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, FailsWithItsErrorWithinItsMemoryBound) {
    const Hostile& h = GetParam();
    const std::string input = h.make();
    std::string got;
    expect_within(small_multiple(input.size()) + h.allowance, [&] { got = error_text(load(input, h.filename)); });
    EXPECT_EQ(got, "Parse error: " + h.error);
}

INSTANTIATE_TEST_SUITE_P(Loads, HostileInput, ::testing::ValuesIn(hostile_inputs()),
                         [](const auto& info) { return info.param.name; });

// A directory that declares nothing, or about 4 GiB, for a member of a few
// bytes: the member is read as far as its data go, and the declared size is
// never reserved beyond what the input can inflate to. (0xFFFFFFFF itself
// would announce a ZIP64 record.)
TEST(HostileArchive, DeclaredSizesAreNotTrusted) {
    for (std::uint64_t declared : {std::uint64_t{0}, std::uint64_t{u32_max - 1}}) {
        const std::string input = rasx(deflated(points), declared);
        std::string got;
        // Deflate cannot expand by more than 1032 to 1.
        expect_within(small_multiple(1032 * input.size()), [&] { got = outcome(load(input, "scan.rasx")); });
        EXPECT_EQ(got, "10:1 10.1:2 10.2:3") << "declared " << declared;
    }
}

// An archive whose tail repeats its end-of-central-directory record: libzip
// would read the whole directory once per copy (minutes for thousands of
// copies), so more than a few copies are refused before it opens the archive.
TEST(HostileArchive, RepeatedEndRecordsAreRefused) {
    const std::string archive = rasx(deflated(points));
    const std::string end_record = archive.substr(archive.size() - 22);
    EXPECT_EQ(outcome(load(archive + repeat(end_record, 7), "scan.rasx")), "10:1 10.1:2 10.2:3");
    EXPECT_EQ(error_text(load(archive + repeat(end_record, 8), "scan.rasx")), "Zip error: Zip archive inconsistent");
}

// The counter must see the library's allocations, or the bounds above would
// hold trivially.
TEST(HostileMeasure, CountsTheLibrarysAllocations) {
    if (under_valgrind()) GTEST_SKIP() << "valgrind replaces the allocator";
    std::string input;
    for (int i = 0; i < 100000; ++i) input += std::to_string(10 + i * 0.01) + " " + std::to_string(i % 97) + "\n";
    std::size_t n = 0;
    const std::size_t heap_peak = expect_within(small_multiple(input.size() + 2 * 100000 * sizeof(double)), [&] {
        auto pattern = load(input, "scan.xy");
        n = pattern ? pattern->size() : 0;
    });
    ASSERT_EQ(n, 100000u);
    EXPECT_GE(heap_peak, 2 * n * sizeof(double));
}

}  // namespace
}  // namespace difrax::testing
