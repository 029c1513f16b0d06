// The text readers. Each takes the undecoded input and decodes it itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace difrax::text {

// Free two-column text (the reader of last resort).
Result<Points> parse_xy(std::span<const std::byte> data);
// Fit2D/pyFAI CHI profile: four-line header, then one point per line.
Result<Points> parse_chi(std::span<const std::byte> data);
// Rigaku RAS text; `index` counts intensity blocks.
Result<Points> parse_ras(std::span<const std::byte> data, std::uint64_t index);
// Bruker UXD text; `index` counts block markers.
Result<Points> parse_uxd(std::span<const std::byte> data, std::uint64_t index);
// GSAS powder data; `index` counts BANK lines.
Result<Points> parse_gsas(std::span<const std::byte> data, std::uint64_t index);
// Powder CIF; `block` picks the first data block whose name contains it.
Result<Points> parse_pdcif(std::span<const std::byte> data, const std::optional<std::string>& block);

// How many patterns `index` can choose from: RAS intensity blocks, UXD block
// markers, GSAS BANK lines.
Result<std::uint64_t> count_ras_scans(std::span<const std::byte> data);
Result<std::uint64_t> count_uxd_scans(std::span<const std::byte> data);
Result<std::uint64_t> count_gsas_banks(std::span<const std::byte> data);

}  // namespace difrax::text
