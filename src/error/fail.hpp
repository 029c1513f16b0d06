// Shorthands for returning an error from a function that yields Result<T>.
#pragma once

#include <expected>
#include <string>

#include "difrax/difrax.hpp"

namespace difrax {

inline std::unexpected<Error> parse_error(std::string message) {
    return std::unexpected(Error::parse(std::move(message)));
}

}  // namespace difrax
