// The public entry point with every file-name hint detection knows. Input:
// byte 0 picks the hint (low 5 bits) and whether a pdCIF block is asked for
// (bit 7), byte 1 picks the index, the rest is the file.
#include <cstddef>
#include <cstdint>

#include "difrax/difrax.hpp"
#include "fuzz_common.hpp"

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
    return 0;
}
