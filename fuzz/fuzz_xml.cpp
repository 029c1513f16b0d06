// The XML element tree (expat events, nesting limit, refusals) with its
// lookups and number helpers, and the XRDML reader on the same document.
// Byte 0 picks the scan index, the rest is the document. Gathering the "scan"
// elements must change nothing but where their texts are kept.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// The elements other than gathered ones, in document order, each with its
// name, text and the number of gathered elements inside it.
void kept(const difrax::xml::Element& e, bool top, std::string_view gather, std::vector<std::string>& out) {
    if (top || e.name != gather) {
        std::size_t inside = 0;
        for (const auto& c : e.children) inside += c.all(gather).size();
        out.push_back(e.name + "|" + e.text + "|" + std::to_string(inside));
    }
    for (const auto& c : e.children) kept(c, false, gather, out);
}

void kept_gathered(const difrax::xml::Element& e, std::vector<std::string>& out) {
    out.push_back(e.name + "|" + e.text + "|" + std::to_string(e.gathered_last - e.gathered_first));
    for (const auto& c : e.children) kept_gathered(c, out);
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
    auto gathered = xml::document(file, "scan");
    fuzz::require(gathered.has_value() == root.has_value());
    if (!root) {
        fuzz::require(gathered.error().display() == root.error().display());
    } else {
        std::vector<std::string> plain, left;
        kept(*root, true, "scan", plain);
        kept_gathered(gathered->root, left);
        fuzz::require(plain == left);
        std::size_t i = 0;
        for (const xml::Element* scan : root->all("scan"))
            if (scan != &*root) fuzz::require(i < gathered->gathered.spans.size() && gathered->gathered.text(i++) == scan->text);
        fuzz::require(i == gathered->gathered.spans.size());
    }
    auto points = xml::parse_xrdml(file, fuzz::index_from(data[0]));
    if (points) fuzz::check_points(*points);
    return 0;
}
