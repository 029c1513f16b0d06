#include "error/fail.hpp"
#include "xml/readers.hpp"

namespace difrax::xml {

Result<Points> parse_brml(std::span<const std::byte>, std::uint64_t) {
    return parse_error("BRML reader is not available yet");
}

}  // namespace difrax::xml
