// The GSAS reader (bank table, STD/ESD fixed-width records, FXYE). Byte 0
// picks the bank index, the rest is the file.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "text/readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    if (size < 1) return 0;
    auto points = text::parse_gsas(fuzz::bytes(data + 1, size - 1), fuzz::index_from(data[0]));
    if (points) fuzz::check_points(*points);
    return 0;
}
