// The XRDML content test: is the first element of the document an
// xrdMeasurements element (any namespace prefix)? Only the document's prolog
// and its first start tag are parsed.
#include <expat.h>

#include <algorithm>
#include <cstring>

#include "parser/parse.hpp"
#include "text/unicode.hpp"

namespace difrax::parser {
namespace {

struct RootProbe {
    XML_Parser parser;
    bool decided = false;
    bool answer = false;

    void decide(bool value) {
        if (decided) return;
        decided = true;
        answer = value;
        XML_StopParser(parser, XML_FALSE);
    }
};

bool ascii_blank(const XML_Char* s, int len) {
    for (int i = 0; i < len; ++i) {
        char c = s[i];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\f' && c != '\r') return false;
    }
    return true;
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char**) {
    auto* probe = static_cast<RootProbe*>(data);
    const char* local = std::strchr(name, ':');
    probe->decide(std::strcmp(local ? local + 1 : name, "xrdMeasurements") == 0);
}

void XMLCALL on_text(void* data, const XML_Char* s, int len) {
    if (!ascii_blank(s, len)) static_cast<RootProbe*>(data)->decide(false);
}

void XMLCALL on_other(void* data) { static_cast<RootProbe*>(data)->decide(false); }
void XMLCALL on_end(void* data, const XML_Char*) { static_cast<RootProbe*>(data)->decide(false); }

}  // namespace

bool has_xrdml_root(std::string_view text) {
    std::string_view rest = text::trim_start(text);
    if (rest.empty() || rest.front() != '<') return false;

    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser) return false;
    RootProbe probe{parser};
    XML_SetUserData(parser, &probe);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    XML_SetStartCdataSectionHandler(parser, on_other);
    // Entity references are never expanded here: the probe stops at the first
    // element, and no external DTD is ever read.
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);

    constexpr std::size_t chunk = 64 * 1024;
    std::size_t pos = 0;
    while (!probe.decided) {
        std::size_t n = std::min(chunk, rest.size() - pos);
        bool last = pos + n == rest.size();
        if (XML_Parse(parser, rest.data() + pos, static_cast<int>(n), last) == XML_STATUS_ERROR) break;
        pos += n;
        if (last) break;
    }
    XML_ParserFree(parser);
    return probe.decided && probe.answer;
}

}  // namespace difrax::parser
