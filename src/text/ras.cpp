#include "error/fail.hpp"
#include "text/readers.hpp"

namespace difrax::text {

Result<Points> parse_ras(std::span<const std::byte>, std::uint64_t) { return parse_error("RAS reader is not available yet"); }

}  // namespace difrax::text
