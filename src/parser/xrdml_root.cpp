// The XRDML content test: is the first element of the document an
// xrdMeasurements element (any namespace prefix)? Only the prolog and the
// first tag are looked at, token by token as a pull parser delivers them:
// declarations, processing instructions, comments, a document type
// declaration and blank text are passed over, and the first start tag
// decides. Nothing else of the document is checked here; the XRDML reader
// parses it in full.
#include <string_view>

#include "parser/parse.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"
#include "xml/tree.hpp"

namespace difrax::parser {
namespace {

bool ascii_blank(std::string_view text) {
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\f' && c != '\r') return false;
    return true;
}

// A document type declaration ends at the ">" that balances its "<": an
// internal subset holds declarations of its own in angle brackets.
std::size_t doctype_end(std::string_view text, std::size_t from) {
    std::size_t depth = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == '<') ++depth;
        if (text[i] == '>' && --depth == 0) return i + 1;
    }
    return std::string_view::npos;
}

// Just past `close`, searched from `from`; npos when it never comes.
std::size_t past(std::string_view text, std::size_t from, std::string_view close) {
    std::size_t at = text.find(close, from);
    return at == std::string_view::npos ? at : at + close.size();
}

}  // namespace

bool has_xrdml_root(std::string_view text) {
    text = text::trim_start(text);
    if (text.empty() || text.front() != '<') return false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::string_view rest = text.substr(pos);
        if (rest.front() != '<') {
            // Text before the first element: blank, or no XML document of ours.
            const std::size_t next = text.find('<', pos);
            if (!ascii_blank(text.substr(pos, next == std::string_view::npos ? next : next - pos))) return false;
            pos = next;
            continue;
        }
        if (rest.starts_with("<?")) {
            pos = past(text, pos + 2, "?>");
        } else if (rest.starts_with("<!--")) {
            pos = past(text, pos + 4, "-->");
        } else if (text::equals_ascii_nocase(rest.substr(0, 9), "<!doctype")) {
            pos = doctype_end(text, pos);
        } else if (rest.starts_with("<!") || rest.starts_with("</")) {
            return false;  // a CDATA section, an end tag or no token at all
        } else {
            if (xml::tag_end(text, pos) == std::string_view::npos) return false;
            std::string_view name = rest.substr(1, rest.find_first_of(" \t\n\r/>", 1) - 1);
            if (std::size_t colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
            return name == "xrdMeasurements";
        }
    }
    return false;
}

}  // namespace difrax::parser
