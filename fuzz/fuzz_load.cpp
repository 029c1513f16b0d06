// The public entry point with every file-name hint detection knows. Input:
// byte 0 picks the hint (low 5 bits) and whether a pdCIF block is asked for
// (bit 7), byte 1 picks the index, the rest is the file.
#include <cstddef>
#include <cstdint>

#include <cstring>
#include <string>
#include <string_view>

#include "difrax/difrax.hpp"
#include "fuzz_common.hpp"
#include "text/readers.hpp"

namespace {

bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// XY rows that are read straight from the bytes must read as the general
// line rules read them. A no-break space at the end of every line sends the
// line through those rules (the row scanner takes ASCII only) and changes
// nothing else: it is white space that trimming removes.
void check_xy_paths(std::span<const std::byte> file) {
    using namespace difrax;
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) return;
    const std::string_view mark = "\xC2\xA0";
    std::string marked;
    for (char c : text) {
        if (c == '\n') marked += mark;
        marked += c;
    }
    if (!text.ends_with('\n')) marked += mark;
    auto direct = text::parse_xy(file);
    auto general = text::parse_xy(fuzz::bytes(reinterpret_cast<const std::uint8_t*>(marked.data()), marked.size()));
    fuzz::require(direct.has_value() == general.has_value());
    if (direct)
        fuzz::require(same_values(direct->x, general->x) && same_values(direct->y, general->y));
    else
        fuzz::require(direct.error() == general.error());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    if (size < 2) return 0;
    const std::string_view hint = fuzz::hints[(data[0] & 0x1Fu) % fuzz::hint_count];
    ReadOptions options;
    options.index = fuzz::index_from(data[1]);
    if (data[0] & 0x80u) options.block = (data[0] & 0x40u) ? "1" : "";
    const auto file = fuzz::bytes(data + 2, size - 2);

    auto loaded = read_bytes_with_options(file, hint, options);
    auto detected = detect_format(file, hint);
    if (loaded) {
        fuzz::check_pattern(*loaded);
        // A load that succeeds went through detection, so detection succeeds.
        fuzz::require(detected.has_value());
    }
    if (!loaded) fuzz::require(!loaded.error().display().empty());
    check_xy_paths(file);
    return 0;
}
