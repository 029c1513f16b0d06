#include "error/fail.hpp"
#include "text/readers.hpp"

namespace difrax::text {

Result<Points> parse_chi(std::span<const std::byte>) { return parse_error("CHI reader is not available yet"); }

}  // namespace difrax::text
