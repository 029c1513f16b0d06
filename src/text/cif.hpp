// Powder CIF: the tokens of CIF text, the data blocks they build, and the
// pieces the pdCIF reader takes from a block (numbers with standard
// uncertainties, loop columns, the 2theta axis).
//
// Tokens, block names and values are views into the decoded text: nothing in
// CIF is unescaped, so every token is a slice of it. The text must outlive the
// tokens and the blocks built from them.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "difrax/difrax.hpp"
#include "text/rules.hpp"

namespace difrax::text {

struct CifToken {
    // A quoted string's or a text field's content without its delimiters;
    // otherwise the characters as written.
    std::string_view text;
    // Quoted strings and semicolon text fields: always values, never keywords.
    bool quoted = false;

    // Tags (_...), data_..., save_..., loop_, stop_ and global_, in any case;
    // never a quoted token.
    bool control() const noexcept;
};

// Tags in order, searched with a string_view. An ordered map, not a hash
// table: tags are the file's own text, and a file whose tags were made to
// share one hash value would turn every insertion into a walk of them all.
template <class Value>
using CifTagMap = std::map<std::string, Value, std::less<>>;

// A loop column. The columns a reader will convert (profiles of 10^6 points)
// are converted with cif_number as their values arrive, which is what the
// reader would do with their texts: the numbers read, in order, and the first
// failure, after which nothing more is converted. Other columns keep their
// texts.
struct CifColumn {
    std::size_t size = 0;  // values in the column
    std::vector<std::string_view> texts;
    std::vector<double> numbers;
    std::optional<Error> fault;

    bool operator==(const CifColumn&) const = default;
};

struct CifBlock {
    // What follows "data_", case kept; may be empty.
    std::string_view name;
    // Loop columns and single values, keyed by the ASCII-lowercased tag.
    CifTagMap<CifColumn> loop_columns;
    CifTagMap<std::string_view> single_values;
};

// Lowercase tags whose loop columns are converted as they are read.
using CifNumericTags = std::span<const std::string_view>;

// Splits CIF text into tokens: bare words, quoted strings, semicolon text
// fields; white space and comments dropped.
Result<std::vector<CifToken>> cif_tokens(std::string_view text);

// Groups tokens into data blocks in file order. Save frames, global_ and
// stop_ are passed over.
Result<std::vector<CifBlock>> cif_blocks(std::span<const CifToken> tokens, CifNumericTags numeric = {});

// Whether a finished block stays in the result (all do when empty).
using CifKeep = std::function<bool(const CifBlock&)>;

// The blocks of CIF text: the result and the first error of
// cif_blocks(cif_tokens(text)), with each token grouped as soon as it is
// split instead of all of them held at once. A grouping fault is reported
// only when the rest of the text splits cleanly, since a splitting fault
// anywhere takes precedence. Blocks that `keep` refuses are let go as soon
// as they end: the rest of the text is still grouped for its faults.
Result<std::vector<CifBlock>> cif_blocks(std::string_view text, CifNumericTags numeric = {},
                                         const CifKeep& keep = {});

// A CIF number, with an optional standard uncertainty in parentheses that is
// dropped: 12.345(6) is 12.345, 1.5(2)e3 is 1500.
Result<double> cif_number(std::string_view text);

// The quick form cif_number() reads first: a short decimal (see
// scan_short_decimal), perhaps followed by an uncertainty of ASCII digits in
// parentheses, read from the start of [p, end). Returns where it stops, or
// nullptr when the text there does not begin so; the form holds for a token
// that ends at the returned position.
inline const char* scan_cif_short_number(const char* p, const char* end, double& value) noexcept {
    const char* stop = scan_short_decimal(p, end, value);
    if (stop == nullptr || stop == end || *stop != '(') return stop;
    const char* digit = stop + 1;
    while (digit != end && *digit >= '0' && *digit <= '9') ++digit;
    if (digit == stop + 1 || digit == end || *digit != ')') return stop;
    return digit + 1;
}

// The first of the named loop columns that exists and holds values (names
// lowercase, in order of preference).
CifColumn* cif_column(CifBlock& block, std::initializer_list<std::string_view> names);

// The numbers of a converted column, taken out of it, or its first failure.
Result<std::vector<double>> cif_numbers(CifColumn& column);

// The tags of the pdCIF profile columns, converted as the blocks are built.
extern const CifNumericTags pdcif_numeric_tags;

// The block's 2theta axis for `count` points, from the corrected or measured
// 2theta column (taken out of the block) or range; nothing when the block has
// none.
Result<std::optional<std::vector<double>>> cif_2theta_axis(CifBlock& block, std::size_t count);

}  // namespace difrax::text
