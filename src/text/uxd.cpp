#include "error/fail.hpp"
#include "text/readers.hpp"

namespace difrax::text {

Result<Points> parse_uxd(std::span<const std::byte>, std::uint64_t) { return parse_error("UXD reader is not available yet"); }

}  // namespace difrax::text
