// CIF syntax as powder CIF files use it: data blocks of tag/value pairs and
// loops, with quoted strings, semicolon text fields and comments. Save frames,
// global_ and stop_ are accepted and carry no meaning here.
#include "text/cif.hpp"

#include "error/fail.hpp"
#include "text/rules.hpp"

namespace difrax::text {
namespace {

// CIF white space is these five ASCII bytes only; a vertical tab or a
// non-ASCII space is part of a token.
constexpr bool is_cif_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

constexpr char lower_ascii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `text` begins with `word` (lowercase), ignoring the case of A-Z.
bool starts_with_word(std::string_view text, std::string_view word) noexcept {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower_ascii(text[i]) != word[i]) return false;
    return true;
}

bool is_word(std::string_view text, std::string_view word) noexcept {
    return text.size() == word.size() && starts_with_word(text, word);
}

bool is_tag(const CifToken& token) noexcept { return !token.quoted && token.text.starts_with('_'); }

// The position of the quote that closes the string opened at `open`: the
// same quote character followed by white space or standing last. A quote
// followed by anything else is content, so 'it's' holds it's.
Result<std::size_t> closing_quote(std::string_view text, std::size_t open) {
    const char quote = text[open];
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') break;
        if (c == quote && (i + 1 == text.size() || is_cif_space(text[i + 1]))) return i;
    }
    return parse_error("pdCIF: unterminated quoted value");
}

// The position of the ";" that closes the text field opened at `open`: the
// first ";" that begins a line.
Result<std::size_t> closing_semicolon(std::string_view text, std::size_t open) {
    const std::size_t found = text.find("\n;", open + 1);
    if (found == std::string_view::npos) return parse_error("pdCIF: unterminated semicolon text field");
    return found + 1;
}

std::size_t bare_token_end(std::string_view text, std::size_t start) noexcept {
    std::size_t i = start;
    while (i < text.size() && !is_cif_space(text[i])) ++i;
    return i;
}

std::unexpected<Error> unexpected_token(const CifToken& token) {
    return parse_error("pdCIF: unexpected token " + quoted(token.text));
}

// Reads the loop whose tags begin at `first` into the block, and returns the
// position of the token after its last value. Values run up to the next
// control token and fill the columns row by row.
Result<std::size_t> read_loop(std::span<const CifToken> tokens, std::size_t first, CifBlock& block) {
    std::size_t values_begin = first;
    while (values_begin < tokens.size() && is_tag(tokens[values_begin])) ++values_begin;
    const std::size_t width = values_begin - first;
    if (width == 0) return parse_error("pdCIF: loop has no column tags");

    std::size_t values_end = values_begin;
    while (values_end < tokens.size() && !tokens[values_end].control()) ++values_end;
    const std::size_t count = values_end - values_begin;
    if (count % width != 0) return parse_error("pdCIF: incomplete loop row");
    const std::size_t rows = count / width;

    // Map elements keep their addresses when the map grows.
    std::vector<std::vector<std::string_view>*> columns;
    columns.reserve(width);
    for (std::size_t j = 0; j < width; ++j) {
        auto [it, inserted] = block.loop_columns.try_emplace(ascii_lower(tokens[first + j].text));
        if (!inserted) return parse_error("pdCIF: duplicate loop tag " + it->first);
        it->second.reserve(rows);
        columns.push_back(&it->second);
    }
    std::size_t v = values_begin;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::vector<std::string_view>* column : columns) column->push_back(tokens[v++].text);
    return values_end;
}

}  // namespace

bool CifToken::control() const noexcept {
    if (quoted || text.empty()) return false;
    switch (lower_ascii(text.front())) {
    case '_': return true;
    case 'd': return starts_with_word(text, "data_");
    case 's': return starts_with_word(text, "save_") || is_word(text, "stop_");
    case 'l': return is_word(text, "loop_");
    case 'g': return is_word(text, "global_");
    default: return false;
    }
}

Result<std::vector<CifToken>> cif_tokens(std::string_view text) {
    std::vector<CifToken> tokens;
    // Profile loops dominate large files, at roughly ten bytes per value.
    tokens.reserve(text.size() / 10 + 16);
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (is_cif_space(c)) {
            ++i;
        } else if (c == '#') {
            const std::size_t eol = text.find('\n', i);
            i = eol == std::string_view::npos ? text.size() : eol;
        } else if (c == '"' || c == '\'') {
            auto close = closing_quote(text, i);
            if (!close) return std::unexpected(std::move(close.error()));
            tokens.push_back({text.substr(i + 1, *close - i - 1), true});
            i = *close + 1;
        } else if (c == ';' && (i == 0 || text[i - 1] == '\n')) {
            auto close = closing_semicolon(text, i);
            if (!close) return std::unexpected(std::move(close.error()));
            tokens.push_back({text.substr(i + 1, *close - i - 1), true});
            i = *close + 1;
        } else {
            const std::size_t end = bare_token_end(text, i);
            tokens.push_back({text.substr(i, end - i), false});
            i = end;
        }
    }
    return tokens;
}

Result<std::vector<CifBlock>> cif_blocks(std::span<const CifToken> tokens) {
    std::vector<CifBlock> blocks;
    std::size_t i = 0;
    while (i < tokens.size()) {
        const CifToken& token = tokens[i];
        if (token.quoted) return unexpected_token(token);
        if (starts_with_word(token.text, "data_")) {
            blocks.emplace_back().name = token.text.substr(5);
            ++i;
        } else if (is_word(token.text, "loop_")) {
            if (blocks.empty()) return parse_error("pdCIF: loop precedes a data block");
            auto next = read_loop(tokens, i + 1, blocks.back());
            if (!next) return std::unexpected(std::move(next.error()));
            i = *next;
        } else if (token.text.starts_with('_')) {
            if (blocks.empty()) return parse_error("pdCIF: tag precedes a data block");
            if (i + 1 == tokens.size() || tokens[i + 1].control())
                return parse_error("pdCIF: missing value for " + ascii_lower(token.text));
            blocks.back().single_values.insert_or_assign(ascii_lower(token.text), tokens[i + 1].text);
            i += 2;
        } else if (is_word(token.text, "stop_") || starts_with_word(token.text, "save_") ||
                   is_word(token.text, "global_")) {
            ++i;
        } else {
            return unexpected_token(token);
        }
    }
    return blocks;
}

}  // namespace difrax::text
