// The Bruker RAW reader (RAW3 and RAW4 range walks). Byte 0 picks the index,
// the rest is the file.
#include <cstddef>
#include <cstdint>

#include "bruker/raw.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    if (size < 1) return 0;
    auto points = bruker::parse_bruker_raw(fuzz::bytes(data + 1, size - 1), fuzz::index_from(data[0]));
    if (points) fuzz::check_points(*points);
    return 0;
}
