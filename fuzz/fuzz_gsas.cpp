// The GSAS reader (bank table, STD/ESD fixed-width records, FXYE). Byte 0
// picks the bank index, the rest is the file.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "text/readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return difrax::fuzz::read_indexed(data, size, difrax::text::parse_gsas);
}
