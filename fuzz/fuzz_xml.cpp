// The XML element tree (expat events, nesting limit, refusals) with its
// lookups and number helpers, and the XRDML reader on the same document.
// Byte 0 picks the scan index, the rest is the document.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "xml/readers.hpp"
#include "xml/tree.hpp"

namespace {

// Visits every element with the lookups the readers use; returns the depth.
std::size_t visit(const difrax::xml::Element& e) {
    (void)e.child("dataPoints");
    (void)e.attr("axis");
    (void)difrax::xml::numbers(e.text);
    (void)difrax::xml::number(e.text);
    (void)difrax::xml::axis_key(e.text);
    std::size_t deepest = 0;
    for (const auto& c : e.children) deepest = std::max(deepest, visit(c));
    return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    if (size < 1) return 0;
    const auto file = fuzz::bytes(data + 1, size - 1);

    auto root = xml::document(file);
    if (root) {
        // 128 open start tags, plus one level for an empty-element tag.
        fuzz::require(visit(*root) <= 129);
        for (const xml::Element* scan : root->all("scan")) fuzz::require(scan->name == "scan");
    }
    auto points = xml::parse_xrdml(file, fuzz::index_from(data[0]));
    if (points) fuzz::check_points(*points);
    return 0;
}
