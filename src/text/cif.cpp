// CIF syntax as powder CIF files use it: data blocks of tag/value pairs and
// loops, with quoted strings, semicolon text fields and comments. Save frames,
// global_ and stop_ are accepted and carry no meaning here.
#include "text/cif.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

#include "error/fail.hpp"
#include "load/points.hpp"
#include "text/rules.hpp"

namespace difrax::text {
namespace {

// CIF white space is these five ASCII bytes only; a vertical tab or a
// non-ASCII space is part of a token.
constexpr bool is_cif_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

constexpr auto cif_space_table = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = is_cif_space(static_cast<char>(c));
    return table;
}();

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
    while (i < text.size() && !cif_space_table[static_cast<unsigned char>(text[i])]) ++i;
    return i;
}

// Only tokens that begin with one of these can be control tokens: most
// values are ruled out by their first byte.
constexpr bool may_be_control(const CifToken& token) noexcept {
    if (token.quoted || token.text.empty()) return false;
    switch (token.text.front()) {
    case '_': case 'd': case 'D': case 's': case 'S': case 'l': case 'L': case 'g': case 'G': return true;
    default: return false;
    }
}

// The token at or after `pos`, past white space and comments, with `pos`
// moved past it; nothing at the end of the text.
Result<std::optional<CifToken>> next_token(std::string_view text, std::size_t& pos) {
    // A local position: the text's bytes may alias `pos`, which would
    // otherwise be stored at every step.
    std::size_t i = pos;
    while (i < text.size()) {
        const char c = text[i];
        if (cif_space_table[static_cast<unsigned char>(c)]) {
            ++i;
        } else if (c == '#') {
            const std::size_t eol = text.find('\n', i);
            i = eol == std::string_view::npos ? text.size() : eol;
        } else if (c == '"' || c == '\'') {
            auto close = closing_quote(text, i);
            if (!close) return std::unexpected(std::move(close.error()));
            const CifToken token{text.substr(i + 1, *close - i - 1), true};
            pos = *close + 1;
            return token;
        } else if (c == ';' && (i == 0 || text[i - 1] == '\n')) {
            auto close = closing_semicolon(text, i);
            if (!close) return std::unexpected(std::move(close.error()));
            const CifToken token{text.substr(i + 1, *close - i - 1), true};
            pos = *close + 1;
            return token;
        } else {
            const std::size_t end = bare_token_end(text, i);
            pos = end;
            return CifToken{text.substr(i, end - i), false};
        }
    }
    pos = i;
    return std::nullopt;
}

// Tokens already split.
struct SplitTokens {
    std::span<const CifToken> tokens;
    std::size_t next = 0;

    Result<const CifToken*> peek() { return next < tokens.size() ? &tokens[next] : nullptr; }
    void pop() { ++next; }
    bool plain_number(std::string_view&, std::optional<double>&) { return false; }
    std::unexpected<Error> fault(std::unexpected<Error> grouping) { return grouping; }
    // How far the reading has come and how far it can go, in tokens.
    std::size_t done() const { return next; }
    std::size_t total() const { return tokens.size(); }
};

// Tokens split from the text one at a time, as the grouping asks for them.
struct TextTokens {
    std::string_view text;
    std::size_t pos = 0;
    std::optional<CifToken> ahead;

    Result<const CifToken*> peek() {
        if (!ahead) {
            auto token = next_token(text, pos);
            if (!token) return std::unexpected(std::move(token.error()));
            if (!*token) return nullptr;
            ahead = **token;
        }
        return &*ahead;
    }
    void pop() { ahead.reset(); }
    // How far the reading has come and how far it can go, in bytes.
    std::size_t done() const { return pos; }
    std::size_t total() const { return text.size(); }
    // Loops of numbers are nearly all of a profile file. A bare token that
    // begins with a digit, sign or point is a value whatever follows: it is
    // taken straight from the text, past the white space before it. Anything
    // else (comments, quotes, text fields, keywords) is left to peek(). A
    // token that is all a short number (1246, 1246(35)) is read as it is
    // split: `number` then holds what cif_number() would make of it.
    bool plain_number(std::string_view& token, std::optional<double>& number) {
        if (ahead) return false;
        // Local pointers: the text's bytes may alias the members.
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const char* start = begin + pos;
        while (start != end && cif_space_table[static_cast<unsigned char>(*start)]) ++start;
        pos = static_cast<std::size_t>(start - begin);
        if (start == end) return false;
        const char c = *start;
        if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.')) return false;
        double value;
        const char* stop = scan_cif_short_number(start, end, value);
        if (stop != nullptr && (stop == end || cif_space_table[static_cast<unsigned char>(*stop)])) {
            number = value;
        } else {
            number.reset();
            stop = begin + bare_token_end(text, pos);
        }
        token = std::string_view(start, static_cast<std::size_t>(stop - start));
        pos = static_cast<std::size_t>(stop - begin);
        return true;
    }
    // Splitting faults come first wherever they stand, so a grouping fault
    // holds only once the rest of the text has split cleanly.
    std::unexpected<Error> fault(std::unexpected<Error> grouping) {
        for (;;) {
            auto token = next_token(text, pos);
            if (!token) return std::unexpected(std::move(token.error()));
            if (!*token) return grouping;
        }
    }
};

std::unexpected<Error> unexpected_token(const CifToken& token) {
    return parse_error("pdCIF: unexpected token " + quoted(token.text));
}

// Reads a loop, from just after its loop_, into the block: its tags, then
// its values up to the next control token, row by row. A row left short and
// a tag the block already has as a column are faults, in that order.
template <class Tokens>
Result<void> read_loop(Tokens& tokens, CifBlock& block, CifNumericTags numeric) {
    struct Target {
        CifColumn* column;  // nullptr for a duplicate tag
        bool convert;
    };
    std::vector<Target> columns;
    std::optional<std::string> duplicate;
    for (;;) {
        auto tag = tokens.peek();
        if (!tag) return std::unexpected(std::move(tag.error()));
        if (!*tag || !is_tag(**tag)) break;
        // Map elements keep their addresses when the map grows.
        auto [it, inserted] = block.loop_columns.try_emplace(ascii_lower((*tag)->text));
        if (!inserted && !duplicate) duplicate = it->first;
        const bool convert = std::find(numeric.begin(), numeric.end(), it->first) != numeric.end();
        columns.push_back({inserted ? &it->second : nullptr, convert});
        tokens.pop();
    }
    if (columns.empty()) return tokens.fault(parse_error("pdCIF: loop has no column tags"));

    // Once some rows are read, the converted columns get room for as many
    // rows again as the rest of the text could hold at the same width: a
    // profile of 10^6 points is then not copied as it grows.
    constexpr std::size_t sample_rows = 64;
    const std::size_t loop_start = tokens.done();
    std::size_t rows = 0;
    auto make_room = [&] {
        const std::size_t width = std::max<std::size_t>(1, (tokens.done() - loop_start) / sample_rows);
        const std::size_t more = (tokens.total() - tokens.done()) / width + 16;
        for (const Target& target : columns)
            if (target.column && target.convert)
                reserve_values(target.column->numbers, target.column->numbers.size() + more);
    };
    std::size_t j = 0;
    auto take = [&](std::string_view text, const std::optional<double>& read) __attribute__((always_inline)) {
        if (CifColumn* column = columns[j].column) {
            ++column->size;
            if (!columns[j].convert) {
                column->texts.push_back(text);
            } else if (!column->fault) {
                if (read) {
                    column->numbers.push_back(*read);
                } else if (auto number = cif_number(text)) {
                    column->numbers.push_back(*number);
                } else {
                    column->fault = std::move(number.error());
                }
            }
        }
        if (++j == columns.size()) {
            j = 0;
            if (++rows == sample_rows) make_room();
        }
    };
    for (;;) {
        std::string_view plain;
        std::optional<double> read;
        if (tokens.plain_number(plain, read)) {
            take(plain, read);
            continue;
        }
        auto value = tokens.peek();
        if (!value) return std::unexpected(std::move(value.error()));
        if (!*value || (may_be_control(**value) && (*value)->control())) break;
        take((*value)->text, std::nullopt);
        tokens.pop();
    }
    // The room was judged from the whole rest of the text, and every block's
    // columns stay until the file is read: a loop that ends before the text
    // does gives back what it did not use, or a file of many blocks would hold
    // room for most of the text in each of them.
    if (rows >= sample_rows)
        for (const Target& target : columns)
            if (target.column && target.convert) release_room(target.column->numbers);
    if (j != 0) return tokens.fault(parse_error("pdCIF: incomplete loop row"));
    if (duplicate) return tokens.fault(parse_error("pdCIF: duplicate loop tag " + *duplicate));
    return {};
}

// Data blocks in file order: data_ opens a block, and its tag/value pairs
// and loops fill it until the next one.
template <class Tokens>
Result<std::vector<CifBlock>> group(Tokens& tokens, CifNumericTags numeric, const CifKeep& keep) {
    std::vector<CifBlock> blocks;
    auto finish_block = [&] {
        if (keep && !blocks.empty() && !keep(blocks.back())) blocks.pop_back();
    };
    for (;;) {
        auto next = tokens.peek();
        if (!next) return std::unexpected(std::move(next.error()));
        if (!*next) {
            finish_block();
            return blocks;
        }
        const CifToken token = **next;
        tokens.pop();
        if (token.quoted) return tokens.fault(unexpected_token(token));
        if (starts_with_word(token.text, "data_")) {
            finish_block();
            blocks.emplace_back().name = token.text.substr(5);
        } else if (is_word(token.text, "loop_")) {
            if (blocks.empty()) return tokens.fault(parse_error("pdCIF: loop precedes a data block"));
            auto loop = read_loop(tokens, blocks.back(), numeric);
            if (!loop) return std::unexpected(std::move(loop.error()));
        } else if (token.text.starts_with('_')) {
            if (blocks.empty()) return tokens.fault(parse_error("pdCIF: tag precedes a data block"));
            auto value = tokens.peek();
            if (!value) return std::unexpected(std::move(value.error()));
            if (!*value || (*value)->control())
                return tokens.fault(parse_error("pdCIF: missing value for " + ascii_lower(token.text)));
            blocks.back().single_values.insert_or_assign(ascii_lower(token.text), (*value)->text);
            tokens.pop();
        } else if (!is_word(token.text, "stop_") && !starts_with_word(token.text, "save_") &&
                   !is_word(token.text, "global_")) {
            return tokens.fault(unexpected_token(token));
        }
    }
}

// Blocks move, never copy, as the block list grows.
static_assert(std::is_nothrow_move_constructible_v<CifBlock>);

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
    std::size_t pos = 0;
    for (;;) {
        auto token = next_token(text, pos);
        if (!token) return std::unexpected(std::move(token.error()));
        if (!*token) return tokens;
        tokens.push_back(**token);
    }
}

Result<std::vector<CifBlock>> cif_blocks(std::span<const CifToken> tokens, CifNumericTags numeric) {
    SplitTokens source{tokens, 0};
    return group(source, numeric, {});
}

Result<std::vector<CifBlock>> cif_blocks(std::string_view text, CifNumericTags numeric, const CifKeep& keep) {
    TextTokens source{text, 0, std::nullopt};
    return group(source, numeric, keep);
}

}  // namespace difrax::text
