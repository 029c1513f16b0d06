// Bruker RAW binary files (RAW3 "RAW1.01" and RAW4 "RAW4.00").
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace difrax::bruker {

// `index` counts measurement ranges in file order.
Result<Points> parse_bruker_raw(std::span<const std::byte> data, std::uint64_t index);

// How many ranges the file holds, after walking and checking all of them.
Result<std::uint64_t> count_ranges(std::span<const std::byte> data);

}  // namespace difrax::bruker
