// Helpers shared by the C++ tests.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace difrax::testing {

inline std::span<const std::byte> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

// Loads bytes through the public entry point.
inline Result<Pattern> load(std::string_view data, std::string_view filename = "", std::uint64_t index = 0,
                            std::optional<std::string> block = std::nullopt) {
    ReadOptions options;
    options.index = index;
    options.block = std::move(block);
    return read_bytes_with_options(bytes_of(data), filename, options);
}

// The display text of a failed result, or "ok" for a success.
template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("ok") : r.error().display();
}

inline std::vector<double> vec(std::span<const double> s) { return {s.begin(), s.end()}; }

// The shared corpus of real instrument files, when this checkout has it.
inline std::optional<std::filesystem::path> corpus_dir() {
    std::filesystem::path p = DIFRAX_CORPUS_DIR;
    if (std::filesystem::is_directory(p)) return p;
    return std::nullopt;
}

std::string read_file(const std::filesystem::path& path);

}  // namespace difrax::testing
