// The element tree is built from expat's callbacks. Expat resolves the five
// predefined entities and character references itself, normalises attribute
// values and checks tag nesting; the builder adds the limits and refusals of
// its own: no document type declarations (nothing of a DTD is ever read, so no
// entity is ever expanded), at most 128 open start tags, exactly one root and
// no text beside it. Expat's own errors are mapped to these rules where they
// concern them, and otherwise name the parser's fault.
#include "xml/tree.hpp"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <type_traits>

#include "error/fail.hpp"
#include "load/points.hpp"
#include "parser/decode.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"

namespace difrax::xml {

const Element* Element::child(std::string_view wanted) const noexcept {
    for (const Element& c : children)
        if (c.name == wanted) return &c;
    return nullptr;
}

std::optional<std::string_view> Element::attr(std::string_view wanted) const noexcept {
    for (const auto& [key, value] : attributes)
        if (key == wanted) return value;
    return std::nullopt;
}

// Recursion depth is bounded by the nesting limit of the builder.
void Element::descendants(std::string_view wanted, std::vector<const Element*>& out) const {
    if (name == wanted) out.push_back(this);
    for (const Element& c : children) c.descendants(wanted, out);
}

std::vector<const Element*> Element::all(std::string_view wanted) const {
    std::vector<const Element*> out;
    descendants(wanted, out);
    return out;
}

namespace {

// Start tags open at once; the stack holds them and the document's holder.
constexpr std::size_t max_open = 128;
// XML_Parse takes an int length and copies what it is given into a buffer
// of its own, and after every piece but the last it counts lines through the
// piece. A text of up to 1 MiB is given whole (no counting, a buffer of the
// text's size); a larger one in pieces of 64 KiB, which keeps that buffer
// small.
constexpr std::size_t whole_size = std::size_t{1} << 20;
constexpr std::size_t chunk_size = std::size_t{1} << 16;
constexpr std::size_t first_piece = std::size_t{1} << 10;

// What the expat callbacks share while one document is read.
struct Builder {
    XML_Parser parser;
    // The text as fed to expat, after `prefix` bytes of its own: byte
    // indexes reported by expat, less `prefix`, are offsets from `base`,
    // where the present parse began (see `resume_at`).
    std::string_view input;
    std::size_t prefix = 0;
    std::size_t base = 0;
    // Whether the holder's own start tag (the prefix) has been seen.
    bool holder_open = false;
    // The holder (the document itself) and the open elements, innermost last.
    std::vector<Element> open{};
    // For each open element, the one that takes its finished children: the
    // element itself, or for a gathered element the host of its parent.
    std::vector<std::size_t> host{};
    // Elements with this name below the root are gathered (none when empty).
    std::string_view gather;
    Gathered gathered{};
    // Where the last reported event ended: what follows is the token expat
    // failed on, when it fails.
    std::size_t event_end = 0;
    std::optional<Error> failure{};
    // Memory was refused inside a callback, which must not throw through
    // expat: the parse is stopped and the refusal raised again after it.
    bool out_of_memory = false;
};

Builder& builder(void* data) noexcept { return *static_cast<Builder*>(data); }

// Where expat is in the input, or npos within the prefix or outside any event.
std::size_t input_index(const Builder& b) noexcept {
    auto index = XML_GetCurrentByteIndex(b.parser);
    if (index < 0 || static_cast<std::size_t>(index) < b.prefix) return std::string_view::npos;
    return static_cast<std::size_t>(index) - b.prefix + b.base;
}

void mark(Builder& b) noexcept {
    std::size_t index = input_index(b);
    if (index == std::string_view::npos) return;
    b.event_end = index + static_cast<std::size_t>(XML_GetCurrentByteCount(b.parser));
}

void stop(Builder& b, std::string message) {
    if (!b.failure) b.failure = Error::parse(std::move(message));
    XML_StopParser(b.parser, XML_FALSE);
}

// Runs a callback's work; memory refused there stops the parse.
template <class Work>
void guarded(Builder& b, Work&& work) noexcept {
    if (b.failure || b.out_of_memory) return;
    try {
        work();
    } catch (const std::bad_alloc&) {
        b.out_of_memory = true;
        XML_StopParser(b.parser, XML_FALSE);
    }
}

// Expat reports an empty-element tag as a start and an end; the tag's own
// bytes tell the two apart.
bool is_empty_element_tag(const Builder& b) noexcept {
    std::size_t index = input_index(b);
    int count = XML_GetCurrentByteCount(b.parser);
    if (index == std::string_view::npos || count < 2) return false;
    return b.input.substr(index, static_cast<std::size_t>(count)).ends_with("/>");
}

// The name after the first ":", an attribute key after the last: prefixes are
// dropped, namespaces never resolved.
Element element(std::string_view name, const XML_Char** attributes) {
    Element e;
    std::size_t colon = name.find(':');
    e.name = colon == std::string_view::npos ? name : name.substr(colon + 1);
    for (const XML_Char** a = attributes; *a; a += 2) {
        std::string_view key(a[0]);
        std::size_t last = key.rfind(':');
        if (last != std::string_view::npos) key.remove_prefix(last + 1);
        e.attributes.emplace_back(key, a[1]);
    }
    return e;
}

// Whether an element of this name, opened or closed with `b.open` as it
// stands (holder and ancestors), is gathered: the root never is.
bool gathers(const Builder& b, std::string_view name) noexcept {
    return b.open.size() > 1 && !b.gather.empty() && name == b.gather;
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) noexcept {
    Builder& b = builder(data);
    if (!b.holder_open) {
        b.holder_open = true;
        return;
    }
    guarded(b, [&] {
        mark(b);
        if (b.open.size() > max_open && !is_empty_element_tag(b)) {
            stop(b, "XML nesting exceeds 128 elements");
            return;
        }
        Element e = element(name, attributes);
        e.gathered_first = b.gathered.spans.size();
        const bool gathered = gathers(b, e.name);
        if (gathered) b.gathered.spans.emplace_back(0, 0);
        b.host.push_back(gathered ? b.host.back() : b.open.size());
        b.open.push_back(std::move(e));
    });
}

// A finished element goes to the nearest open element that is not gathered,
// in the order elements finish: the children of a gathered element so take
// its place in its parent, each moved once however deep gathered elements
// nest.
void XMLCALL on_end(void* data, const XML_Char*) noexcept {
    Builder& b = builder(data);
    guarded(b, [&] {
        mark(b);
        if (b.open.size() < 2) {
            stop(b, "unexpected XML closing element");
            return;
        }
        Element done = std::move(b.open.back());
        b.open.pop_back();
        b.host.pop_back();
        done.gathered_last = b.gathered.spans.size();
        if (gathers(b, done.name)) {
            b.gathered.spans[done.gathered_first] = {b.gathered.chars.size(), done.text.size()};
            b.gathered.chars += done.text;
            return;
        }
        b.open[b.host.back()].children.push_back(std::move(done));
    });
}

void XMLCALL on_text(void* data, const XML_Char* s, int len) noexcept {
    Builder& b = builder(data);
    guarded(b, [&] {
        mark(b);
        b.open.back().text.append(s, static_cast<std::size_t>(len));
    });
}

void XMLCALL on_comment(void* data, const XML_Char*) noexcept { mark(builder(data)); }
void XMLCALL on_instruction(void* data, const XML_Char*, const XML_Char*) noexcept { mark(builder(data)); }
void XMLCALL on_cdata(void* data) noexcept { mark(builder(data)); }
void XMLCALL on_declaration(void* data, const XML_Char*, const XML_Char*, int) noexcept { mark(builder(data)); }

// Called before anything of the declaration's internal subset is read.
void XMLCALL on_doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) noexcept {
    Builder& b = builder(data);
    guarded(b, [&] { stop(b, "XML document type declarations are not supported"); });
}

bool is_xml_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// "line L, column C" of a byte offset, both counted from 1, columns in
// characters.
std::string position(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    std::string_view before = text.substr(0, offset);
    std::size_t line_start = before.rfind('\n');
    line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
    std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    std::size_t column = 1;
    for (char c : before.substr(line_start))
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++column;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool is_reference_error(XML_Error code) noexcept {
    return code == XML_ERROR_UNDEFINED_ENTITY || code == XML_ERROR_BAD_CHAR_REF ||
           code == XML_ERROR_RECURSIVE_ENTITY_REF || code == XML_ERROR_BINARY_ENTITY_REF ||
           code == XML_ERROR_ATTRIBUTE_EXTERNAL_ENTITY_REF;
}

// The input from where the last reported event ended, blanks passed over:
// the token expat failed on begins there.
std::string_view failing_token(const Builder& b) noexcept {
    std::string_view next = b.input.substr(std::min(b.event_end, b.input.size()));
    while (!next.empty() && is_xml_space(next.front())) next.remove_prefix(1);
    return next;
}

// Whether the fault at `at` lies in a reference: on its "&", or after it in
// the name or character number that follows.
bool in_reference(std::string_view input, std::size_t at) noexcept {
    if (at < input.size() && input[at] == '&') return true;
    for (std::size_t i = std::min(at, input.size()); i-- > 0;) {
        const auto c = static_cast<unsigned char>(input[i]);
        if (c == '&') return true;
        if (!std::isalnum(c) && c < 0x80 && std::string_view("#_-.:").find(static_cast<char>(c)) == std::string_view::npos)
            return false;
    }
    return false;
}

// Turns expat's failure into the builder's message. `text` is the whole
// decoded text and `offset` where the fed input starts in it. The token expat
// failed on begins after the last reported event.
Error failure(const Builder& b, std::string_view text, std::size_t offset) {
    if (b.failure) return *b.failure;
    XML_Error code = XML_GetErrorCode(b.parser);
    bool outside_root = b.open.size() == 1;
    // Expat's "no element found" is the input ending cleanly with elements
    // open (the holder alone open is the document's own end, taken by the
    // caller). Input that ends inside a tag, comment or CDATA section is the
    // parser's fault like any other.
    if (code == XML_ERROR_NO_ELEMENTS) return Error::parse("truncated XML document");

    const std::string_view next = failing_token(b);
    // Any letter case: <!doctype is a document type declaration all the same.
    if (text::equals_ascii_nocase(next.substr(0, 9), "<!doctype"))
        return Error::parse("XML document type declarations are not supported");
    if (outside_root && next.starts_with("</")) return Error::parse("unexpected XML closing element");
    // Text beside the root that expat cannot take (a control character)
    // counts as text outside the root. References are read there as inside
    // it: one that cannot be resolved is its own fault, and so is a bare "&".
    std::size_t error_at = std::min(input_index(b), b.input.size());
    const bool reference = is_reference_error(code) || in_reference(b.input, error_at);
    if (outside_root && !next.empty() && next.front() != '<' && !reference)
        return Error::parse("XML must contain exactly one root element");

    std::string detail = std::string(XML_ErrorString(code)) + " at " + position(text, offset + error_at);

    // A start tag that expat did not report: its attributes failed, unless
    // the fault lies in the tag's name (a "<" with no name is no tag). The
    // nesting limit is judged before the attributes are read, so a start tag
    // that would stand too deep fails for its depth.
    bool in_start_tag = next.size() > 1 && next[0] == '<' && std::strchr("/!?", next[1]) == nullptr;
    if (in_start_tag) {
        std::size_t tag_start = b.input.size() - next.size();
        std::size_t name_end = next.find_first_of(" \t\r\n/>");
        bool past_name = name_end != std::string_view::npos && name_end > 1 && error_at >= tag_start + name_end;
        if (is_reference_error(code) || code == XML_ERROR_DUPLICATE_ATTRIBUTE || past_name) {
            const std::size_t end = tag_end(next, 0);
            const bool empty_element = end != std::string_view::npos && next.substr(0, end).ends_with("/>");
            if (b.open.size() > max_open && !empty_element) return Error::parse("XML nesting exceeds 128 elements");
            return Error::parse("XML attribute: " + detail);
        }
    }
    if (is_reference_error(code)) return Error::parse("XML entity: " + detail);
    return Error::parse("XML parse: " + detail);
}

using ParserHandle = std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)>;

// A hash salt for the parsers of one document (never 0, which would make
// expat draw its own); from the system's random source, or where it has
// none, from the time and an address of this run.
unsigned long document_salt(const Builder& b) noexcept {
    unsigned long salt;
    try {
        salt = std::random_device{}();
    } catch (...) {
        salt = static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               reinterpret_cast<std::uintptr_t>(&b);
    }
    return salt | 1u;
}

// The holder's start tag, fed to every parser before the document.
constexpr std::string_view holder_tag = "<_>";

// A new parser for the builder, its handlers set and the holder opened;
// false when memory is refused. The parsers of one document after the first
// share `salt` (none: expat draws its own).
bool start_parser(ParserHandle& parser, Builder& b, std::optional<unsigned long> salt) {
    parser.reset(XML_ParserCreate("UTF-8"));
    if (!parser || (salt && !XML_SetHashSalt(parser.get(), *salt))) return false;
    b.parser = parser.get();
    b.holder_open = false;
    XML_SetUserData(b.parser, &b);
    XML_SetElementHandler(b.parser, on_start, on_end);
    XML_SetCharacterDataHandler(b.parser, on_text);
    XML_SetCommentHandler(b.parser, on_comment);
    XML_SetProcessingInstructionHandler(b.parser, on_instruction);
    XML_SetCdataSectionHandler(b.parser, on_cdata, on_cdata);
    XML_SetXmlDeclHandler(b.parser, on_declaration);
    XML_SetStartDoctypeDeclHandler(b.parser, on_doctype);
    XML_SetParamEntityParsing(b.parser, XML_PARAM_ENTITY_PARSING_NEVER);
    return XML_Parse(b.parser, holder_tag.data(), static_cast<int>(holder_tag.size()), XML_FALSE) == XML_STATUS_OK;
}

// Where reading goes on after a fault of expat's beside the root that the
// document's events do not make: a processing instruction expat refuses
// there (an XML declaration after the start, a target spelt XML) is passed
// over like any other, and characters expat does not take in text (control
// characters) are text of the document: unless they are white space, the
// document then holds no single root, but a fault further on outranks that,
// so reading goes on. npos when the fault is the document's own.
std::size_t resume_at(Builder& b, XML_Error code) {
    if (b.failure || b.open.size() != 1 || !b.holder_open) return std::string_view::npos;
    const std::string_view next = failing_token(b);
    const std::size_t at = b.input.size() - next.size();
    if (next.starts_with("<?")) {
        const std::size_t end = b.input.find("?>", at + 2);
        return end == std::string_view::npos ? end : end + 2;
    }
    if (code != XML_ERROR_INVALID_TOKEN || next.empty() || next.front() == '<' ||
        in_reference(b.input, std::min(input_index(b), b.input.size())))
        return std::string_view::npos;
    std::size_t end = b.input.find_first_of("<&", at);
    if (end == std::string_view::npos) end = b.input.size();
    b.open.front().text.append(b.input.substr(at, end - at));
    return end;
}

}  // namespace

Result<Element> document(std::span<const std::byte> bytes) {
    auto built = document(bytes, {});
    if (!built) return std::unexpected(std::move(built.error()));
    return std::move(built->root);
}

Result<Document> document(std::span<const std::byte> bytes, std::string_view gather) {
    auto decoded = decode(bytes);
    if (!decoded) return std::unexpected(decoded.error());
    std::string_view text = decoded->view();

    // The document is read as the content of an element of the builder's
    // own, the holder, so that what stands beside the root comes as events
    // like any other: text (Unicode white space included) goes to the
    // holder's text, a second root becomes its second child, and a fault
    // further on (an element left open, an unknown entity) is still found.
    // The XML declaration, which may only open a document, is passed over
    // here; its encoding plays no part, the text being UTF-8 already.
    std::string_view input = text::trim(text);
    const bool declared =
        input.starts_with("<?xml") && (input.size() == 5 || std::string_view(" \t\r\n?").contains(input[5]));
    if (std::size_t end = declared ? input.find("?>", 5) : std::string_view::npos; end != std::string_view::npos)
        input.remove_prefix(end + 2);
    std::size_t offset = input.empty() ? text.size() : static_cast<std::size_t>(input.data() - text.data());
    ParserHandle parser(nullptr, &XML_ParserFree);
    Builder b{.parser = nullptr, .input = input, .prefix = holder_tag.size(), .gather = gather};
    b.open.reserve(max_open + 2);
    b.open.emplace_back();
    b.host.reserve(max_open + 2);
    b.host.push_back(0);
    if (!gather.empty()) {
        // Gathered texts are parts of the input (without document types,
        // references only shorten them), so a room of the input's size is
        // reserved at once: its pages are touched only as texts arrive, where
        // regrowth would hold the old and the new copy together.
        b.gathered.chars.reserve(input.size());
    }

    if (!start_parser(parser, b, std::nullopt)) return parse_error("XML parse: out of memory");
    std::size_t pos = 0;
    std::optional<unsigned long> salt;
    // After a new parse has begun (see below), pieces start small and grow:
    // expat copies each piece whole, and the next fault may be near.
    std::size_t piece = input.size() <= whole_size ? input.size() : chunk_size;
    for (;;) {
        std::size_t n = std::min(piece, input.size() - pos);
        bool last = pos + n == input.size();
        const bool parsed = XML_Parse(b.parser, input.data() + pos, static_cast<int>(n), last) == XML_STATUS_OK;
        if (b.out_of_memory) throw std::bad_alloc();
        if (!parsed || b.failure) {
            // The holder is never closed: expat's "no element found" with
            // nothing but the holder open is the input's clean end.
            bool clean_end =
                last && !b.failure && b.open.size() == 1 && XML_GetErrorCode(b.parser) == XML_ERROR_NO_ELEMENTS;
            if (!clean_end) {
                const std::size_t resume = resume_at(b, XML_GetErrorCode(b.parser));
                if (resume == std::string_view::npos) return std::unexpected(failure(b, text, offset));
                // Only the holder is open: a new parse from there, inside a
                // new holder, goes on where the document stands. A new
                // parser, not a reset one: a reset clears expat's name tables
                // over all the room they ever took, which a document of many
                // names and many such faults would pay for at each fault.
                // The new parsers share one hash salt, drawn once.
                if (!salt) salt = document_salt(b);
                b.base = b.event_end = pos = resume;
                if (!start_parser(parser, b, salt)) return parse_error("XML parse: out of memory");
                piece = first_piece;
                continue;
            }
        }
        pos += n;
        if (last) break;
        piece = std::max(piece, std::min(2 * piece, chunk_size));
    }

    Element& holder = b.open.front();
    if (b.open.size() != 1) return parse_error("truncated XML document");
    if (holder.children.size() != 1 || !text::trim(holder.text).empty())
        return parse_error("XML must contain exactly one root element");
    return Document{std::move(holder.children.front()), std::move(b.gathered)};
}

std::size_t tag_end(std::string_view text, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

Result<double> number(std::string_view text) {
    std::optional<double> value = text::decimal(text::trim(text));
    if (!value) return parse_error("invalid numeric value " + text::quoted(text));
    if (!std::isfinite(*value)) return parse_error("non-finite numeric value");
    return *value;
}

Result<std::vector<double>> numbers(std::string_view text) {
    // Data lists are long runs of short decimals between ASCII blanks: those
    // are read straight from the bytes in one pass; any other word (other
    // white space, long or malformed numbers) is split off and read by
    // number(), which also names it when it fails.
    constexpr auto separator = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::vector<double> out;
    reserve_values(out, text.size() / 4 + 1);
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        while (p != end && separator(*p)) ++p;
        if (p == end) break;
        double value;
        const char* stop = text::scan_short_decimal(p, end, value);
        if (stop != nullptr && (stop == end || separator(*stop))) {
            out.push_back(value);
            p = stop;
            continue;
        }
        text::Words words(std::string_view(p, static_cast<std::size_t>(end - p)));
        std::string_view word;
        if (!words.next(word)) break;
        auto read = number(word);
        if (!read) return std::unexpected(read.error());
        out.push_back(*read);
        p = word.data() + word.size();
    }
    return out;
}

std::string axis_key(std::string_view text) {
    std::string key = text::lower(text);
    std::erase_if(key, [](char c) { return c == ' ' || c == '-' || c == '_'; });
    return key;
}

}  // namespace difrax::xml
