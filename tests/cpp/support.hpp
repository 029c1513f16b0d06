// Helpers shared by the C++ tests.
#pragma once

#include <gtest/gtest.h>

#include <charconv>
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
inline Result<Pattern> load(std::string_view data, std::string_view filename = "", std::uint64_t index = 0) {
    ReadOptions options;
    options.index = index;
    return read_bytes_with_options(bytes_of(data), filename, options);
}

// The display text of a failed result, or "ok" for a success.
template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("ok") : r.error().display();
}

// The shortest text that reads back as exactly `v` ("10.02", "-0", "inf").
inline std::string shortest(double v) {
    char buf[32];
    return {buf, std::to_chars(buf, buf + sizeof buf, v).ptr};
}

// The points as space-separated "x:y" pairs, each number as `shortest` writes it.
inline std::string points_text(std::span<const double> x, std::span<const double> y) {
    std::string out;
    for (std::size_t i = 0; i < x.size() && i < y.size(); ++i)
        out += (i ? " " : "") + shortest(x[i]) + ":" + shortest(y[i]);
    return out;
}

// The points of a success, or the display text of the error.
inline std::string outcome(const Result<Points>& r) { return r ? points_text(r->x, r->y) : r.error().display(); }
inline std::string outcome(const Result<Pattern>& r) { return r ? points_text(r->x(), r->y()) : r.error().display(); }

// start + step * i for i < n, the product and the sum rounded one by one as
// the readers compute their axes.
inline std::vector<double> stepped(double start, double step, std::size_t n) {
    std::vector<double> x;
    for (std::size_t i = 0; i < n; ++i) {
        volatile double offset = step * static_cast<double>(i);
        x.push_back(start + offset);
    }
    return x;
}

// One row of a table: an input and the text it must give.
struct Case {
    std::string input, expected;
};

// Checks every row: `f(input)` must give the expected text.
template <class F>
void check(const std::vector<Case>& cases, F&& f) {
    for (const Case& c : cases) EXPECT_EQ(f(c.input), c.expected) << "for " << ::testing::PrintToString(c.input);
}

// The shared corpus of real instrument files, when this checkout has it.
std::optional<std::filesystem::path> corpus_dir();
std::string read_file(const std::filesystem::path& path);

}  // namespace difrax::testing
