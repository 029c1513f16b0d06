// The Bruker RAW reader (RAW3 and RAW4 range walks). Byte 0 picks the index,
// the rest is the file.
#include <cstddef>
#include <cstdint>

#include "bruker/raw.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return difrax::fuzz::read_indexed(data, size, difrax::bruker::parse_bruker_raw);
}
