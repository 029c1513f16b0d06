// A small, bounded XML element tree for the XML readers: local names only,
// attributes normalised, each element's direct character data concatenated.
// Built with expat; document type declarations are refused outright.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "difrax/difrax.hpp"

namespace difrax::xml {

struct Element {
    // Tag name after its first ":" (p:scan gives scan).
    std::string name;
    // (key after its last ":", normalised value), in document order.
    std::vector<std::pair<std::string, std::string>> attributes;
    // All character data directly inside the element, concatenated.
    std::string text;
    std::vector<Element> children;
    // The gathered elements (see document() with a name) whose start tags
    // lie inside this one: indexes first to last, last excluded.
    std::size_t gathered_first = 0;
    std::size_t gathered_last = 0;

    // First direct child with exactly this name.
    const Element* child(std::string_view wanted) const noexcept;
    // Value of the first attribute with exactly this name.
    std::optional<std::string_view> attr(std::string_view wanted) const noexcept;
    // Appends every element of this subtree (this one included) with the
    // name, in pre-order.
    void descendants(std::string_view wanted, std::vector<const Element*>& out) const;
    std::vector<const Element*> all(std::string_view wanted) const;
};

// The direct texts of the elements kept out of a tree, in the order of their
// start tags.
struct Gathered {
    std::string chars;
    // (offset, size) of each text in chars.
    std::vector<std::pair<std::size_t, std::size_t>> spans;

    std::string_view text(std::size_t i) const noexcept {
        return std::string_view(chars).substr(spans[i].first, spans[i].second);
    }
};

struct Document {
    Element root;
    Gathered gathered;
};

// Decodes the bytes (UTF-16 with a byte-order mark, else UTF-8), parses them
// and returns the single root element.
Result<Element> document(std::span<const std::byte> bytes);

// Same, with the elements named `gather` below the root kept out of the
// tree: each one's direct text goes to `gathered`, its attributes are
// dropped and its children take its place in its parent, so every other
// element keeps its document order. Long runs of records (a BRML scan's
// Datum elements) then cost their text alone, not an element each.
Result<Document> document(std::span<const std::byte> bytes, std::string_view gather);

// Where the tag that starts at `from` (its "<") ends, just past its ">";
// quoted attribute values may hold ">" of their own. npos when it never ends.
std::size_t tag_end(std::string_view text, std::size_t from);

// Trimmed decimal number, finite ("invalid numeric value ...",
// "non-finite numeric value").
Result<double> number(std::string_view text);
// White-space separated numbers; an empty or blank text gives no values.
Result<std::vector<double>> numbers(std::string_view text);
// Lower-cased, with spaces, "-" and "_" removed (other white space stays).
std::string axis_key(std::string_view text);

}  // namespace difrax::xml
