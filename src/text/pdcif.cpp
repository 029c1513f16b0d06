#include "error/fail.hpp"
#include "text/readers.hpp"

namespace difrax::text {

Result<Points> parse_pdcif(std::span<const std::byte>, const std::optional<std::string>&) { return parse_error("pdCIF reader is not available yet"); }

}  // namespace difrax::text
