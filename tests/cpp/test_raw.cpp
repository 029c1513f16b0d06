// Bruker RAW3 and RAW4 files: the range walk, selection by index, the axis
// decision, and refusal of damaged or hostile headers.
#include <limits>

#include "bruker/raw.hpp"
#include "raw_builder.hpp"
#include "support.hpp"

namespace difrax::bruker {
namespace {

using namespace difrax::testing;
using namespace difrax::testing::raw;

std::string read(const std::string& file, std::uint64_t index = 0) {
    return outcome(parse_bruker_raw(bytes_of(file), index));
}
// "ok", or the message of the refusal without its "Parse error: Bruker RAW: ".
std::string status(const std::string& file, std::uint64_t index = 0) {
    auto text = error_text(parse_bruker_raw(bytes_of(file), index));
    return text.starts_with("Parse error: Bruker RAW: ") ? text.substr(25) : text;
}

const double nan = std::numeric_limits<double>::quiet_NaN();
namespace f3 = raw3_field;
namespace f4 = raw4_field;
constexpr std::size_t r3 = f3::first_range, r4 = f4::file_header;

// n intensities of 1 with NaN from `first` on.
std::vector<float> with_nan_at(std::size_t first, std::size_t n) {
    std::vector<float> y(n, 1.0f);
    std::fill(y.begin() + static_cast<std::ptrdiff_t>(first), y.end(), std::numeric_limits<float>::quiet_NaN());
    return y;
}

TEST(Raw, DamagedHeadersAreRefused) {
    const std::string two3 = raw3({Raw3Range{}, Raw3Range{.start = 20.0}});  // ranges at 712 and 1028, 1344 bytes
    const std::string one4 = raw4({Raw4Range{.drives = {Drive{}}}});          // range at 61, drives at 221, 297 bytes
    auto u3 = [&](std::size_t at, std::uint32_t v) { return with(two3, at, v); };
    auto u4 = [&](std::size_t at, std::uint32_t v) { return with(one4, r4 + at, v); };
    const std::string finite = "range start and nonzero step must be finite", count = "invalid RAW3 range count ",
                      size = "invalid RAW3 range-header size ", none = "RAW4 file has no measurement ranges",
                      length = "segment type 30 at offset 61 declares invalid length ",
                      point = "nonfinite angle or intensity in point ";
    // That a cut file fails is left to EveryTruncationFailsCleanly, the largest counts to test_hostile.
    check({{"RAW1.0", "unrecognized binary signature"},
           {"RAW1.01", "truncated record at offset 0: needs 712 bytes, file has 7"},
           {one4.substr(0, 60), "truncated record at offset 0: needs 61 bytes, file has 60"},
           // RAW3: the count, the header size and the extra record are bounded, the record size fits the bits.
           {u3(f3::range_count, 0), count + "0"}, {u3(f3::range_count, 4097), count + "4097"},
           {u3(r3 + f3::header_size, 259), size + "259"}, {u3(r3 + f3::header_size, 1048577), size + "1048577"},
           {u3(r3 + f3::header_size, 1048576), "truncated record at offset 712: needs 1048576 bytes, file has 1344"},
           {with(two3, r3 + f3::start, nan), finite}, {with(two3, r3 + f3::step, -0.0), finite},
           {u3(r3 + f3::varying, 3), "RAW3 data-record size 4 disagrees with varying-parameter bits 0x3 (expected 20)"},
           {with(u3(r3 + f3::varying, 0x80000000), r3 + f3::record_size, 12u),
            "RAW3 data-record size 12 disagrees with varying-parameter bits 0x80000000 (expected 12)"},
           {u3(r3 + f3::extra_size, 1048577), "invalid RAW3 extra-record length"},
           // A fault in the second range fails the file whichever range is asked for.
           {u3(1028 + f3::points, 0), "range has no points"},
           {two3 + std::string(50, '\0') + "\1", "unaccounted nonzero bytes after the declared RAW3 ranges"},
           // RAW4: segments stay within the file, drive records within the drive header.
           {one4.substr(0, 61), none}, {raw4({Segment{}, Segment{.type = 7, .length = 8}}), none},
           {raw4({Segment{.length = 7}}), length + "7"}, {with(raw4({Segment{}}), r4 + 4, 17u), length + "17"},
           {raw4({Segment{.length = 8}}) + std::string("\1\0\0\0\0\0\0", 7), "truncated segment header"},
           {with(one4, r4 + f4::step, 0.0), finite}, {u4(f4::record_size, 6), "invalid RAW4 data-record size 6"},
           {u4(f4::drive_size, 1048577), "RAW4 drive header exceeds 1 MiB"},
           {u4(f4::drive_size, 1000), "truncated record at offset 221: needs 1000 bytes, file has 297"},
           {one4 + std::string(5, '\0'), "truncated record at offset 297: needs 160 bytes, file has 302"},
           {raw4({Raw4Range{.drives = {Drive{.length = 63}}}}), "RAW4 drive record is shorter than 64 bytes"},
           {u4(f4::drives + 4, 65), "segment type 50 at offset 221 declares invalid length 65"},
           {raw4(std::vector<Raw4Item>(4097, Raw4Range{.intensities = {1}})), "too many RAW4 ranges"},
           // Nonfinite values, read or computed, name the point.
           {raw3({{.intensities = {1, 2, std::numeric_limits<float>::quiet_NaN()}}}), point + "2"},
           {raw3({{.varying = 1, .intensities = {1, 2}, .angles = {1, nan}}}), point + "1"},
           {raw3({{.start = 1e308, .step = 1e308}}), point + "1"},
           // Records are decoded in blocks; the first bad point is named wherever it falls.
           {raw3({{.intensities = with_nan_at(300, 600)}}), point + "300"},
           {raw3({{.intensities = with_nan_at(255, 300)}}), point + "255"}},
          [](const std::string& file) { return status(file); });
}

// The reader checks the order of the angles as it stores them; the loaded
// pattern must be what validation of the stored points would give.
TEST(Raw3, LoadedAnglesAreValidatedAsStored) {
    auto loaded = [](const Raw3Range& range) { return outcome(load(raw3({range}), "x.raw")); };
    const std::string unordered = "Parse error: x values must be finite and strictly increasing";
    EXPECT_EQ(loaded({.varying = 1, .intensities = {4, 5, 6}, .angles = {30.5, 30.25, 30.0}}), "30:6 30.25:5 30.5:4");
    EXPECT_EQ(loaded({.varying = 1, .intensities = {4, 5, 6}, .angles = {30.0, 30.5, 30.5}}), unordered);
    EXPECT_EQ(loaded({.varying = 1, .intensities = {4, 5, 6}, .angles = {30.0, 31.0, 30.5}}), unordered);
    // A step below the spacing of doubles near the start repeats angles.
    EXPECT_EQ(loaded({.start = 1e6, .step = 1e-12, .intensities = {1, 2}}), unordered);
    EXPECT_EQ(loaded({.start = 10.0, .step = 0.5, .intensities = {1, 2}}), "10:1 10.5:2");
}

TEST(Raw3, SelectsEachRangeWithAnglesFromStartStepOrRecords) {
    const std::vector<Raw3Range> ranges = {
        {.start = 5.0, .step = 0.01, .intensities = std::vector<float>(1000, 7.5f), .header_size = 260},
        {.start = 9.0, .varying = 1, .intensities = {4, 5}, .angles = {30.25, 30.5}, .extra_size = 40},
        {.start = 40.0, .step = -0.5, .scan_type = 20, .varying = 6, .intensities = {8, 9, 10}, .header_size = 512},
        {.start = 1.0, .varying = 0x40000003, .intensities = {1, 2}, .angles = {2.5, 3.5}}};
    const std::string file = raw3(ranges) + std::string(300, '\0');
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const Raw3Range& r = ranges[i];
        const std::vector<double> y(r.intensities.begin(), r.intensities.end());
        EXPECT_EQ(read(file, i), points_text(r.varying & 1 ? r.angles : stepped(r.start, r.step, y.size()), y)) << i;
    }
    EXPECT_EQ(status(file, 4), "scan 4 is out of range; file has 4 scans");
    // The entry point turns the decreasing range round with its intensities.
    EXPECT_EQ(outcome(load(file, "x.raw", 2)), "39:10 39.5:9 40:8");
    // An axis problem concerns only the chosen range.
    for (std::uint32_t code : {0u, 1u, 2u, 20u}) EXPECT_EQ(status(raw3({{.scan_type = code}})), "ok") << code;
    EXPECT_EQ(status(raw3({{.scan_type = 3}, {}}), 0), "RAW3 scan type 3 does not establish a 2theta axis");
    EXPECT_EQ(status(raw3({{.scan_type = 3}, {}}), 1), "ok");
}

std::string not_coupled(const std::string& scan_type) {
    return "scan type \"" + scan_type + "\" does not establish a 2theta axis; export a coupled 2theta scan";
}
const std::string rocking = not_coupled("Rocking Curve");

TEST(Raw4, WalksSegmentsAndSelectsRanges) {
    const std::string file = raw4({Segment{.type = 10, .length = 40},
                                   Raw4Range{.scan_type = "Rocking Curve", .drives = {Segment{}}},
                                   Segment{.type = 3, .length = 8},
                                   Raw4Range{.type = 160, .start = 20.0, .step = 0.05, .intensities = {4, 5, 6, 7},
                                             .record_size = 12},
                                   Segment{}});
    EXPECT_EQ(status(file, 0), rocking);
    EXPECT_EQ(read(file, 1), points_text(stepped(20.0, 0.05, 4), std::vector<double>{4, 5, 6, 7}));
    EXPECT_EQ(status(file, 2), "scan 2 is out of range; file has 2 scans");
    EXPECT_EQ(status(raw4(std::vector<Raw4Item>(4096, Raw4Range{.intensities = {1}})), 4095), "ok");
}

// The axis is decided by the one scanned drive that starts where the range
// does, or else by the scan type.
TEST(Raw4, AxisFromTheScannedDriveOrTheScanType) {
    auto range = [](std::string scan_type, std::vector<DriveItem> drives = {}) {
        return raw4({Raw4Range{.scan_type = std::move(scan_type), .start = 10.0, .drives = std::move(drives)}});
    };
    const std::string rc = "Rocking Curve", lc = "Locked Coupled";
    check({{range(rc, {Drive{.name = "  2-Theta\t"}}), "ok"},
           {range(rc, {Segment{.type = 7}, Drive{.name = "two_theta", .start = 10.00009}}), "ok"},
           {range(lc, {Drive{.name = " Theta "}}), "scanned drive \"Theta\" is not a recognized 2theta axis"},
           {range(lc, {Drive{.name = "Phi\xB0", .length = 80}}),
            "scanned drive \"Phi\xC2\xB0\" is not a recognized 2theta axis"},
           // Several candidates, or none, leave the decision to the scan type.
           {range(rc, {Drive{}, Drive{.name = "2 Theta"}}), rocking}, {range(rc, {Drive{.scanned = 0}}), rocking},
           {range(rc, {Drive{.start = 10.0002}}), rocking}, {range("\xA0unlocked_coupled\xA0"), "ok"},
           {range("Detector-Scan"), "ok"}, {range("Unlocked-Coupled-HRXRD__"), "ok"},  // all 24 bytes, no zero
           {range(" Omega\t2Theta "), not_coupled("Omega\\t2Theta")}},
          [](const std::string& file) { return status(file); });
}

// Every cut of a valid file fails cleanly, unless it falls where a RAW4 range
// ends: what is left is then a smaller valid file.
TEST(Raw, EveryTruncationFailsCleanly) {
    const std::string f3 =
        raw3({{.varying = 1, .angles = {1, 2, 3}, .extra_size = 20}, {.start = 20.0}}) + std::string(2, '\0');
    for (std::size_t n = 0; n + 2 < f3.size(); ++n)
        EXPECT_TRUE(read(f3.substr(0, n)).starts_with("Parse error: Bruker RAW: ")) << n;
    EXPECT_EQ(status(f3), "ok");
    const std::string first = raw4({Segment{}, Raw4Range{.drives = {Segment{}, Drive{}}}});
    const std::string f4 = first + raw4({Raw4Range{.start = 30}}).substr(r4) + std::string(4, '\0');
    for (std::size_t n = 0; n <= f4.size(); ++n)
        EXPECT_EQ(status(f4.substr(0, n)) == "ok", n == first.size() || n == f4.size() - 4) << n;
}

}  // namespace
}  // namespace difrax::bruker
