// Format detection and dispatch: byte signatures, ZIP member names, text
// markers, then the file-name extension, with free column text last.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace difrax::parser {

// The format that detection settles on, or its refusal (unknown content, a
// DIF peak list, a container name on text, an undecodable text). Decides
// without reading the pattern itself.
Result<Format> detect(std::span<const std::byte> data, std::string_view filename);

// Calls the reader of the format (single-pattern formats require index 0).
Result<Points> dispatch(Format format, std::span<const std::byte> data, const ReadOptions& options);

// detect() then dispatch(): calls exactly one reader, or refuses the input.
Result<Points> parse(std::span<const std::byte> data, std::string_view filename, const ReadOptions& options);

// Whether the text is an XML document whose first element is an XRDML
// measurement (local name "xrdMeasurements"); reads no further than that
// element and never fails.
bool has_xrdml_root(std::string_view text);

// Single-pattern formats accept only index 0.
Result<void> one_pattern(std::uint64_t index);

// The lower-cased extension of the file name's last path component ("" when
// it has none).
std::string extension(std::string_view filename);

}  // namespace difrax::parser
