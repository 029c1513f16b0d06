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

    // First direct child with exactly this name.
    const Element* child(std::string_view wanted) const noexcept;
    // Value of the first attribute with exactly this name.
    std::optional<std::string_view> attr(std::string_view wanted) const noexcept;
    // Appends every element of this subtree (this one included) with the
    // name, in pre-order.
    void descendants(std::string_view wanted, std::vector<const Element*>& out) const;
    std::vector<const Element*> all(std::string_view wanted) const;
};

// Decodes the bytes (UTF-16 with a byte-order mark, else UTF-8), parses them
// and returns the single root element.
Result<Element> document(std::span<const std::byte> bytes);

// Trimmed decimal number, finite ("invalid numeric value ...",
// "non-finite numeric value").
Result<double> number(std::string_view text);
// White-space separated numbers; an empty or blank text gives no values.
Result<std::vector<double>> numbers(std::string_view text);
// Lower-cased, with spaces, "-" and "_" removed (other white space stays).
std::string axis_key(std::string_view text);

}  // namespace difrax::xml
