// The CIF tokenizer and block builder, the helpers the pdCIF reader takes
// from them, and the pdCIF reader itself. Byte 0 picks the block option, the
// rest is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_common.hpp"
#include "parser/decode.hpp"
#include "text/cif.hpp"
#include "text/readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    if (size < 1) return 0;
    std::optional<std::string> block;
    switch (data[0] % 4u) {
    case 1: block = ""; break;
    case 2: block = "1"; break;
    case 3: block = "run"; break;
    default: break;
    }
    const auto file = fuzz::bytes(data + 1, size - 1);

    auto points = text::parse_pdcif(file, block);
    if (points) fuzz::check_points(*points);

    auto decoded = decode(file);
    if (!decoded) return 0;
    auto tokens = text::cif_tokens(decoded->view());
    if (!tokens) return 0;
    for (const text::CifToken& t : *tokens) {
        // Tokens are views into the text.
        fuzz::require(t.text.data() >= decoded->view().data() &&
                      t.text.data() + t.text.size() <= decoded->view().data() + decoded->view().size());
        (void)t.control();
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(tokens->size(), 64); ++i)
        (void)text::cif_number((*tokens)[i].text);
    // Columns converted as the blocks are built read exactly as their texts
    // converted afterwards.
    auto blocks = text::cif_blocks(*tokens);
    auto converted = text::cif_blocks(*tokens, text::pdcif_numeric_tags);
    fuzz::require(blocks.has_value() == converted.has_value());
    if (!blocks) return 0;
    fuzz::require(blocks->size() == converted->size());
    for (std::size_t k = 0; k < blocks->size(); ++k) {
        text::CifBlock& b = (*blocks)[k];
        for (std::string_view tag : text::pdcif_numeric_tags) {
            text::CifColumn* as_text = text::cif_column(b, {tag});
            text::CifColumn* as_numbers = text::cif_column((*converted)[k], {tag});
            fuzz::require((as_text == nullptr) == (as_numbers == nullptr));
            if (as_text) fuzz::require(text::cif_numbers(*as_text) == text::cif_numbers(*as_numbers));
        }
        auto axis = text::cif_2theta_axis(b, 3);
        if (axis && *axis) (void)(**axis).size();
    }
    return 0;
}
