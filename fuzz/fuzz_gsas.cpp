// The GSAS reader (bank table, STD/ESD fixed-width records, FXYE). Byte 0
// picks the bank index, the rest is the file.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    return fuzz::read_indexed(data, size, [](std::span<const std::byte> file, std::uint64_t index) -> Result<Points> {
        auto decoded = decode(file);
        if (!decoded) return std::unexpected(decoded.error());
        return text::parse_gsas(decoded->view(), index);
    });
}
