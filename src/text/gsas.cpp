#include "error/fail.hpp"
#include "text/readers.hpp"

namespace difrax::text {

Result<Points> parse_gsas(std::span<const std::byte>, std::uint64_t) { return parse_error("GSAS reader is not available yet"); }

}  // namespace difrax::text
