#include "error/fail.hpp"
#include "xml/readers.hpp"

namespace difrax::xml {

Result<Points> parse_rasx(std::span<const std::byte>, std::uint64_t) {
    return parse_error("RASX reader is not available yet");
}

}  // namespace difrax::xml
