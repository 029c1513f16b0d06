// The text readers. Each takes the input's decoded text (see decode()): the
// input is decoded once, for detection and reader alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace difrax::text {

// Free two-column text (the reader of last resort).
Result<Points> parse_xy(std::string_view text);
// Fit2D/pyFAI CHI profile: four-line header, then one point per line.
Result<Points> parse_chi(std::string_view text);
// Rigaku RAS text; `index` counts intensity blocks.
Result<Points> parse_ras(std::string_view text, std::uint64_t index);
// Bruker UXD text; `index` counts block markers.
Result<Points> parse_uxd(std::string_view text, std::uint64_t index);
// GSAS powder data; `index` counts BANK lines.
Result<Points> parse_gsas(std::string_view text, std::uint64_t index);
// Powder CIF; `block` picks the first data block whose name contains it.
Result<Points> parse_pdcif(std::string_view text, const std::optional<std::string>& block);

// How many patterns `index` can choose from: RAS intensity blocks, UXD block
// markers, GSAS BANK lines.
std::uint64_t count_ras_scans(std::string_view text);
std::uint64_t count_uxd_scans(std::string_view text);
std::uint64_t count_gsas_banks(std::string_view text);

}  // namespace difrax::text
