// The XML-based readers: PANalytical XRDML documents and the ZIP containers
// Bruker BRML and Rigaku RASX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace difrax::xml {

// `index` counts scans over all xrdMeasurement elements.
Result<Points> parse_xrdml(std::span<const std::byte> data, std::uint64_t index);
// `index` counts the raw data members listed by the data container.
Result<Points> parse_brml(std::span<const std::byte> data, std::uint64_t index);
// `index` counts the data folders that hold a profile.
Result<Points> parse_rasx(std::span<const std::byte> data, std::uint64_t index);

// Rigaku scan axes that move 2theta; refuses the others with "scan axis
// {label} is not a supported 2theta scan".
Result<void> check_rigaku_axis(std::string_view label);

// How many patterns each container or document holds (what `index` counts).
Result<std::uint64_t> count_xrdml_scans(std::span<const std::byte> data);
Result<std::uint64_t> count_brml_scans(std::span<const std::byte> data);
Result<std::uint64_t> count_rasx_scans(std::span<const std::byte> data);

}  // namespace difrax::xml
