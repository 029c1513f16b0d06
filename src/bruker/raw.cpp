#include "bruker/raw.hpp"

#include "error/fail.hpp"

namespace difrax::bruker {

Result<Points> parse_bruker_raw(std::span<const std::byte>, std::uint64_t) {
    return parse_error("Bruker RAW reader is not available yet");
}

}  // namespace difrax::bruker
